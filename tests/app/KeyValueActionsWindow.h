#pragma once

// The editing window with its input boxes and questions answered from a
// script, as the key and value command tests need them.

#include <QStringList>

#include <deque>

#include "tests/app/EditingWindow.h"

// Input boxes: each answer in turn (a null string cancels); message boxes:
// each answer in turn, OK once the script is used up. Both record what they
// were shown.
class ActionAnswers : public Prompter, public MessageBoxes {
public:
  std::deque<QString> inputs;
  std::deque<int> answers;
  QStringList queries;    // "title|prompt|starting text"
  QStringList texts;      // message texts
  QList<TaskMessage> tasks;
  QString saveAnswer;     // the save dialog's file (empty: cancelled)

  bool inputQuery(QWidget*, const QString& title, const QString& prompt, QString& text) override {
    queries << title + u'|' + prompt + u'|' + text;
    if (inputs.empty() || inputs.front().isNull()) {
      if (!inputs.empty()) inputs.pop_front();
      return false;
    }
    text = inputs.front();
    inputs.pop_front();
    return true;
  }
  QString openFileName(QWidget*, const QString&, const QString&) override { return {}; }
  QString saveFileName(QWidget*, const QString&, const QString&, const QString&, int*) override { return saveAnswer; }
  int messageDlg(QWidget*, const QString& text, TTdMessageType, TCommonButtons) override {
    texts << text;
    return next();
  }
  int taskMessageDlg(QWidget*, const TaskMessage& message) override {
    tasks << message;
    return next();
  }

private:
  int next() {
    if (answers.empty()) return mrOk;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

class KeyValueActionsWindow : public EditingWindow {
protected:
  void SetUp() override {
    EditingWindow::SetUp();
    setPrompter(&script);
    setMessageBoxes(&script);
  }
  void TearDown() override {
    EditingWindow::TearDown();
    setPrompter(nullptr);
  }
  QStringList captions() const {
    QStringList list;
    for (int r = 0; r < form->valueModel()->count(); ++r) list << form->valueModel()->item(r).Caption;
    return list;
  }
  static QStringList names(const std::vector<std::string>& raw) {
    QStringList list;
    for (const std::string& name : raw) list << QString::fromStdString(name);
    list.sort();
    return list;
  }
  static bool keyExists(platform::HKEY root, const std::string& path) {
    TMyRegistry reg;
    reg.SetRootKey(root);
    return reg.KeyExists(path);
  }
  // The crafted hive mounted as HKEY_LOCAL_MACHINE\SPECIAL with its key
  // "zero<NUL>key" selected.
  KeyNode* selectCraftedNulKey(const std::filesystem::path& source) {
    mountCopy(source, "SPECIAL");
    showForm();
    KeyNode* hklm = FindChildNode(form->FMyComputerNode, QStringLiteral("HKEY_LOCAL_MACHINE"), false);
    form->tvKeysExpanding(hklm);
    KeyNode* mountedNode = FindChildNode(hklm, QStringLiteral("SPECIAL"), false);
    if (!mountedNode) return nullptr;
    form->tvKeysExpanding(mountedNode);
    KeyNode* zero = FindChildNode(mountedNode, QStringLiteral("zero<0x00>key"), true);
    if (!zero) return nullptr;
    form->selectNode(zero);
    form->tvKeysClick();
    return zero;
  }

  ActionAnswers script;
};
