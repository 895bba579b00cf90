#pragma once

// Answers every prompt, file dialog and message box of the windows from a
// script and records what each asked, so a test runs an action with no
// modal loop.

#include <QString>
#include <QStringList>

#include <deque>
#include <vector>

#include "app/UiSeams.h"

class ScriptedAnswers : public Prompter, public MessageBoxes {
public:
  struct Query {
    QString title, prompt, text;
  };
  // Input boxes: each takes the next reply; with none left it is cancelled.
  std::deque<QString> replies;
  std::vector<Query> asked;
  // File dialogs: the file (empty: cancelled) and the chosen filter, from 1.
  QString openAnswer, saveAnswer;
  int filterAnswer = 1;
  // Message boxes: their texts, and the button each is answered with.
  QStringList messages;
  int boxReply = mrOk;

  bool inputQuery(QWidget*, const QString& title, const QString& prompt, QString& text) override {
    asked.push_back({title, prompt, text});
    if (replies.empty()) return false;
    text = replies.front();
    replies.pop_front();
    return true;
  }
  QString openFileName(QWidget*, const QString&, const QString&) override { return openAnswer; }
  QString saveFileName(QWidget*, const QString&, const QString&, const QString&, int* filterIndex) override {
    if (filterIndex) *filterIndex = filterAnswer;
    return saveAnswer;
  }
  int messageDlg(QWidget*, const QString& text, TTdMessageType, TCommonButtons) override {
    messages << text;
    return boxReply;
  }
};
