#pragma once
// A desktop for GUI tests: records every message and page, answers
// questions and dialogs from scripted values, and never ends the process.
#include <QString>
#include <QStringList>
#include <QUrl>
#include <deque>
#include <functional>

#include "DesktopServices.h"

class RecordingDesktop : public DesktopServices {
 public:
  void information(QWidget*, const QString& text) override {
    messages << text;
    if (onInformation) onInformation(text);
  }
  void plainMessage(QWidget*, const QString& text) override { plainMessages << text; }
  bool question(QWidget*, const QString& text) override {
    questions << text;
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  QString openFileName(QWidget*, const QString&, const QString& filter) override {
    openFilters << filter;
    return next(fileNames);
  }
  QString appendFileName(QWidget*, const QString&, const QString&) override { return next(fileNames); }
  QString existingFolder(QWidget*, const QString&) override { return next(folders); }
  void openPage(const QUrl& page) override { pages << page; }
  void endProcess(int exitCode) override { endedWith = exitCode; }

  QStringList messages;       // information boxes, in order
  QStringList plainMessages;  // boxes without a caption
  QStringList questions;
  QList<QUrl> pages;
  QStringList openFilters;    // the filter of each open dialog, in order
  int endedWith = -1;         // the exit code the process would have ended with

  std::deque<bool> answers;       // for question(); No when empty
  std::deque<QString> fileNames;  // for the file dialogs; cancelled when empty
  std::deque<QString> folders;    // for the folder browser
  // Looks at the screens while an information box would be up.
  std::function<void(const QString&)> onInformation;

 private:
  static QString next(std::deque<QString>& values) {
    if (values.empty()) return {};
    QString value = values.front();
    values.pop_front();
    return value;
  }
};
