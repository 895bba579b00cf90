#include "app/FormUnitRemoteConnect.h"

#include <QComboBox>
#include <QProgressBar>

#include <gtest/gtest.h>

#include "app/UiSeams.h"
#include "tests/app/RecordingMessageBoxes.h"
#include "tests/app/Screenshot.h"

using namespace std::string_literals;

namespace {

class FakeBrowser : public platform::NetworkBrowser {
public:
  std::vector<platform::NetworkWorkgroupEntry> groups;
  bool fail = false;
  std::vector<platform::NetworkWorkgroupEntry> browse() override {
    if (fail) throw platform::NetworkBrowseError("no daemon");
    return groups;
  }
};

QStringList items(QComboBox* box) {
  QStringList out;
  for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
  return out;
}

TEST(RemoteConnectNames, MergeTable) {
  struct Case {
    const char* what;
    QStringList before;
    std::vector<std::string> found;
    QStringList after;
  };
  const Case cases[] = {
      {"parentheses give the inner name", {}, {"WORKGROUP (PC1)", "pc2"}, {"\\\\PC1", "\\\\pc2"}},
      {"names are sorted before they are added", {"\\\\z"}, {"b", "a"}, {"\\\\z", "\\\\a", "\\\\b"}},
      {"another case is the same name", {"\\\\PC2"}, {"pc2", "Pc3"}, {"\\\\PC2", "\\\\Pc3"}},
      {"the first pair of parentheses", {}, {"x (a) (b)"}, {"\\\\a"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QStringList list = c.before;
    MergeNeighborhoodNames(list, c.found);
    EXPECT_EQ(list, c.after);
  }
}

class RemoteConnectWindow : public ::testing::Test {
protected:
  void SetUp() override { setMessageBoxes(&boxes); }
  void TearDown() override { setMessageBoxes(nullptr); }
  RecordingMessageBoxes boxes;
  FakeBrowser fake;
  TformRemoteConnect form{nullptr, [this] {
                            auto b = std::make_unique<FakeBrowser>();
                            *b = fake;
                            return std::unique_ptr<platform::NetworkBrowser>(std::move(b));
                          }};
};

TEST_F(RemoteConnectWindow, SearchAddsNeighbourhoodOnceAndKeepsTypedName) {
  fake.groups = {{"WORKGROUP", {"WORKGROUP (PC1)", " pc2 ", "pc3\0x"s}}};
  form.cbRemoteName->addItem(QStringLiteral("\\\\PC2"));
  form.cbRemoteName->setEditText(QStringLiteral("\\\\typed"));
  form.bnSearchClick();
  form.bnSearchClick();
  EXPECT_EQ(items(form.cbRemoteName), (QStringList{"\\\\PC2", "\\\\PC1", "\\\\pc3"}));
  EXPECT_EQ(form.cbRemoteName->currentText(), QStringLiteral("\\\\typed"));
  EXPECT_TRUE(boxes.texts.isEmpty());
  form.show();
  saveScreenshot(form, "remote-connect");
}

TEST_F(RemoteConnectWindow, FailedSearchTellsAndKeepsTheList) {
  fake.fail = true;
  form.cbRemoteName->addItem(QStringLiteral("\\\\kept"));
  form.bnSearchClick();
  EXPECT_EQ(boxes.texts, QStringList{"Cannot find network neiborhood"});
  EXPECT_EQ(items(form.cbRemoteName), QStringList{"\\\\kept"});
  EXPECT_EQ(form.aniSearch->maximum(), 1);  // the busy indicator stopped
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
