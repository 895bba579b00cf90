// The logon window: the accounts it offers, when OK may be pressed, and the
// fields emptied after every showing.

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include "app/FormUnitUserLogon.h"
#include "app/UiSeams.h"
#include "core/kxNetInfo.h"
#include "platform/RegistryStore.h"
#include "tests/app/ModalWindow.h"
#include "tests/app/RecordingMessageBoxes.h"
#include "tests/app/Screenshot.h"
#include "tests/support/TempDir.h"

namespace {

class UserLogon : public ::testing::Test {
protected:
  void SetUp() override {
    platform::registry::shutdownForTests();
    setMessageBoxes(&boxes);
  }
  void TearDown() override {
    setMessageBoxes(nullptr);
    platform::registry::shutdownForTests();
  }
  static QStringList items(const QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
    return out;
  }

  testsupport::TempRegistry registry;
  RecordingMessageBoxes boxes;
};

// The current user's hive is loaded under its SID: that account is the one
// left out.
TEST_F(UserLogon, OffersTheLocalAccountsWhoseHiveIsNotLoaded) {
  std::vector<std::string> all;
  ASSERT_TRUE(GetLocalUserNames(&all));
  const std::string me = getpwuid(geteuid())->pw_name;
  QStringList expected;
  for (const std::string& name : all)
    if (name != me) expected << QString::fromStdString(name);
  TformUserLogon form;
  EXPECT_EQ(items(form.cbUsername), expected);
  EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(u'\n').toStdString();
}

TEST_F(UserLogon, AnAccountThatCannotBeLookedUpLeavesTheListEmpty) {
  TformUserLogon form(nullptr, [] { return std::vector<std::string>{"root", "no-such-account-anywhere"}; });
  EXPECT_EQ(form.cbUsername->count(), 0);
  EXPECT_EQ(boxes.texts.size(), 1);
}

TEST_F(UserLogon, OkFollowsTheNameAndBothFieldsAreEmptiedAfterwards) {
  TformUserLogon form(nullptr, [] { return std::vector<std::string>{}; });
  EXPECT_EQ(form.editPassword->echoMode(), QLineEdit::Password);
  QString name = QStringLiteral("joe"), password;
  onNextModalWindow([&form](QDialog& dialog) {
    EXPECT_EQ(form.cbUsername->currentText(), QStringLiteral("joe"));
    EXPECT_TRUE(form.editPassword->text().isEmpty());
    EXPECT_TRUE(form.bnOk->isEnabled());
    form.cbUsername->setEditText({});
    EXPECT_FALSE(form.bnOk->isEnabled()) << "an empty name";
    form.cbUsername->setEditText(QStringLiteral("ann"));
    form.editPassword->setText(QStringLiteral("secret"));
    saveScreenshot(dialog, "user-logon");
    form.bnOk->click();
  });
  ASSERT_TRUE(form.Execute(name, password));
  EXPECT_EQ(name, QStringLiteral("ann"));
  EXPECT_EQ(password, QStringLiteral("secret"));
  EXPECT_TRUE(form.cbUsername->currentText().isEmpty());
  EXPECT_TRUE(form.editPassword->text().isEmpty());

  // After Cancel the next showing starts with the caller's name and no password.
  onNextModalWindow([&form](QDialog& dialog) {
    form.editPassword->setText(QStringLiteral("typed"));
    dialog.reject();
  });
  name = QStringLiteral("joe");
  EXPECT_FALSE(form.Execute(name, password));
  onNextModalWindow([&form](QDialog& dialog) {
    EXPECT_EQ(form.cbUsername->currentText(), QStringLiteral("joe"));
    EXPECT_TRUE(form.editPassword->text().isEmpty());
    dialog.reject();
  });
  form.Execute(name, password);
}

}  // namespace
