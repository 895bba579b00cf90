// editor-bench: our editor control beside QPlainTextEdit on a large .reg text.
//
//   build/bench/editor-bench [--lines N] [--runs N] [--file PATH]
//
// Writes a deterministic REGEDIT4-style text (1,000,000 lines of about 100
// bytes unless --lines says otherwise; the file is kept and reused), then
// runs each side in a process of its own so one side's heap does not weigh on
// the other's: QPlainTextEdit, our control plain, and our control with the
// INI highlighter as the change-log panes use it. Each shows its widget
// offscreen at 1000x700 and times four steps, each ending once the widget has
// painted: load the file, scroll to the end (Ctrl+End), replace a word on
// every line by a longer one, and undo that. The memory per line is the
// growth of the resident set over the load, divided by the lines. The sides
// run in turn, three times unless --runs says otherwise, and each step's best
// time is reported.
//
// A side is run alone with --side qt|plain|ini PATH; it prints one line:
//   RESULT side load_ms scroll_ms replace_ms undo_ms bytes_per_line replaced restored

#include <QAbstractScrollArea>
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "editor/CodeEdit.h"
#include "editor/CodeEditSearch.h"
#include "editor/CodeHighlighterIni.h"

namespace {

using Clock = std::chrono::steady_clock;

// The word every line holds once, and what replaces it.
constexpr char16_t kWord[] = u"hive";
constexpr char16_t kLongerWord[] = u"hivescope";

// Lines of about 100 bytes: a key every tenth line, values between. Filler is
// upper-case hex and blanks, so the word occurs nowhere else.
void WriteBenchFile(const std::string& Path, int Lines) {
  std::ofstream out(Path, std::ios::binary);
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  static const char kHex[] = "0123456789ABCDEF";
  std::string line;
  for (int i = 0; i < Lines; ++i) {
    line.clear();
    char head[96];
    if (i % 10 == 0)
      std::snprintf(head, sizeof head, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\hive\\K%07d\\", i / 10);
    else
      std::snprintf(head, sizeof head, "\"Value%07d\"=\"hive ", i);
    line = head;
    while (line.size() < 95) {
      const std::uint64_t r = next();
      line += (r & 7) == 0 ? ' ' : kHex[(r >> 3) & 15];
    }
    line += i % 10 == 0 ? "]" : "\"";
    line += "\r\n";
    out << line;
  }
}

// FNV-1a over the lines' UTF-16 units with a break after each.
struct Checksum {
  std::uint64_t Value = 0xCBF29CE484222325ull;
  void Add(const char16_t* P, std::size_t N) {
    for (std::size_t i = 0; i < N; ++i) {
      Value = (Value ^ P[i]) * 0x100000001B3ull;
    }
    Value = (Value ^ u'\n') * 0x100000001B3ull;
  }
};

long ResidentBytes() {
  malloc_trim(0);
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  long pages = 0, resident = 0;
  if (f != nullptr) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
      resident = 0;
    std::fclose(f);
  }
  return resident * sysconf(_SC_PAGESIZE);
}

// Counts the paints of a viewport, so a step is known to have ended on screen.
class PaintCounter : public QObject {
public:
  int Paints = 0;

protected:
  bool eventFilter(QObject*, QEvent* Event) override {
    if (Event->type() == QEvent::Paint)
      ++Paints;
    return false;
  }
};

// Runs Step, then lets the widget paint; answers milliseconds.
double Timed(QAbstractScrollArea& Area, PaintCounter& Counter, const std::function<void()>& Step) {
  const auto start = Clock::now();
  Step();
  const int before = Counter.Paints;
  QCoreApplication::processEvents();
  if (Counter.Paints == before)
    Area.viewport()->repaint();
  const auto end = Clock::now();
  return std::chrono::duration<double, std::milli>(end - start).count();
}

// Shows Area at 1000x700 with its paints counted; answers the resident set
// before anything is loaded.
long ShowForBench(QAbstractScrollArea& Area, PaintCounter& Counter) {
  Area.resize(1000, 700);
  Area.show();
  Area.viewport()->installEventFilter(&Counter);
  QCoreApplication::processEvents();
  return ResidentBytes();
}

void SendCtrlEnd(QWidget& W) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_End, Qt::ControlModifier);
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_End, Qt::ControlModifier);
  QApplication::sendEvent(&W, &press);
  QApplication::sendEvent(&W, &release);
}

struct SideResult {
  double Load = 0, Scroll = 0, Replace = 0, Undo = 0;
  double BytesPerLine = 0;
  long Replaced = 0;
  bool Restored = false;
};

SideResult RunQt(const std::string& Path) {
  SideResult r;
  QPlainTextEdit edit;
  PaintCounter counter;
  const long before = ShowForBench(edit, counter);
  r.Load = Timed(edit, counter, [&] {
    QFile file(QString::fromStdString(Path));
    if (!file.open(QIODevice::ReadOnly))
      return;
    edit.setPlainText(QString::fromUtf8(file.readAll()));
  });
  QTextDocument& doc = *edit.document();
  const long lines = doc.blockCount();
  r.BytesPerLine = double(ResidentBytes() - before) / double(std::max(1L, lines));
  auto sum = [&] {
    Checksum c;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
      const QString t = b.text();
      c.Add(reinterpret_cast<const char16_t*>(t.utf16()), std::size_t(t.size()));
    }
    return c.Value;
  };
  const std::uint64_t original = sum();
  r.Scroll = Timed(edit, counter, [&] { SendCtrlEnd(edit); });
  r.Replace = Timed(edit, counter, [&] {
    const QString word = QString::fromUtf16(kWord), longer = QString::fromUtf16(kLongerWord);
    QTextCursor block(&doc);
    block.beginEditBlock();
    for (QTextCursor c = doc.find(word, 0, QTextDocument::FindCaseSensitively); !c.isNull();
         c = doc.find(word, c, QTextDocument::FindCaseSensitively)) {
      c.insertText(longer);
      ++r.Replaced;
    }
    block.endEditBlock();
  });
  r.Undo = Timed(edit, counter, [&] { doc.undo(); });
  r.Restored = sum() == original;
  return r;
}

SideResult RunOurs(const std::string& Path, bool WithHighlighter) {
  SideResult r;
  codeedit::TCodeEdit edit;
  codeedit::TCodeIniHighlighter highlighter;
  if (WithHighlighter)
    edit.Core().SetHighlighter(&highlighter);
  PaintCounter counter;
  const long before = ShowForBench(edit, counter);
  r.Load = Timed(edit, counter, [&] { edit.Lines().LoadFromFile(Path); });
  codeedit::TCodeEditCore& core = edit.Core();
  const long lines = core.LineCount();
  r.BytesPerLine = double(ResidentBytes() - before) / double(std::max(1L, lines));
  auto sum = [&] {
    Checksum c;
    for (int i = 1; i <= core.LineCount(); ++i) {
      const std::u16string_view t = core.LineText(i);
      c.Add(t.data(), t.size());
    }
    return c.Value;
  };
  const std::uint64_t original = sum();
  r.Scroll = Timed(edit, counter, [&] { SendCtrlEnd(edit); });

  codeedit::TCodeEditSearch engine;
  core.SetSearchEngine(&engine);
  r.Replace = Timed(edit, counter, [&] {
    r.Replaced = core.SearchReplace(kWord, kLongerWord,
                                    codeedit::ssoReplaceAll | codeedit::ssoEntireScope | codeedit::ssoMatchCase);
  });
  r.Undo = Timed(edit, counter, [&] { core.Undo(); });

  r.Restored = sum() == original;
  return r;
}

int RunSide(const std::string& Side, const std::string& Path) {
  SideResult r;
  if (Side == "qt")
    r = RunQt(Path);
  else if (Side == "plain" || Side == "ini")
    r = RunOurs(Path, Side == "ini");
  else
    return 2;
  std::printf("RESULT %s %.1f %.1f %.1f %.1f %.1f %ld %d\n", Side.c_str(), r.Load, r.Scroll, r.Replace, r.Undo,
              r.BytesPerLine, r.Replaced, r.Restored ? 1 : 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (qgetenv("QT_QPA_PLATFORM").isEmpty())
    qputenv("QT_QPA_PLATFORM", "offscreen");
  if (qgetenv("XDG_RUNTIME_DIR").isEmpty()) {
    char dir[] = "/tmp/editor-bench-XXXXXX";
    if (mkdtemp(dir) != nullptr)
      qputenv("XDG_RUNTIME_DIR", dir);
  }
  std::string side, path = "editor-bench.reg";
  int lines = 1000000;
  int runs = 3;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--side" && i + 2 < argc) {
      side = argv[++i];
      path = argv[++i];
    } else if (a == "--lines" && i + 1 < argc) {
      lines = std::atoi(argv[++i]);
    } else if (a == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--file" && i + 1 < argc) {
      path = argv[++i];
    } else {
      std::fprintf(stderr, "usage: editor-bench [--lines N] [--runs N] [--file PATH]\n");
      return 2;
    }
  }
  QApplication app(argc, argv);
  if (!side.empty())
    return RunSide(side, path);

  // The file is named after its line count, so another count makes another.
  path += "." + std::to_string(lines);
  if (!QFile::exists(QString::fromStdString(path))) {
    std::printf("writing %s (%d lines)\n", path.c_str(), lines);
    WriteBenchFile(path, lines);
  }
  // The sides take turns, so a machine busy with other work weighs on each
  // alike; each step's best run counts.
  const char* names[] = {"qt", "plain", "ini"};
  const char* titles[] = {"QPlainTextEdit", "ours, plain", "ours, INI highlighter"};
  SideResult best[3];
  bool seen[3] = {}, restoredAll[3] = {true, true, true};
  int failures = 0;
  for (int run = 0; run < runs; ++run) {
    for (int i = 0; i < 3; ++i) {
      QProcess child;
      child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
      child.start(QCoreApplication::applicationFilePath(), {"--side", names[i], QString::fromStdString(path)});
      child.waitForFinished(-1);
      const QByteArray out = child.readAllStandardOutput();
      char name[16] = {};
      SideResult r;
      int restored = 0;
      const char* at = std::strstr(out.constData(), "RESULT ");
      if (at == nullptr || std::sscanf(at, "RESULT %15s %lf %lf %lf %lf %lf %ld %d", name, &r.Load, &r.Scroll,
                                       &r.Replace, &r.Undo, &r.BytesPerLine, &r.Replaced, &restored) != 8) {
        std::printf("%s: run %d failed (exit %d)\n", titles[i], run + 1, child.exitCode());
        ++failures;
        continue;
      }
      std::printf("run %d %-24s %10.1f %10.1f %10.1f %10.1f %12.1f\n", run + 1, titles[i], r.Load, r.Scroll,
                  r.Replace, r.Undo, r.BytesPerLine);
      std::fflush(stdout);
      restoredAll[i] = restoredAll[i] && restored != 0;
      SideResult& b = best[i];
      if (!seen[i]) {
        b = r;
        seen[i] = true;
      } else {
        b.Load = std::min(b.Load, r.Load);
        b.Scroll = std::min(b.Scroll, r.Scroll);
        b.Replace = std::min(b.Replace, r.Replace);
        b.Undo = std::min(b.Undo, r.Undo);
        b.BytesPerLine = std::min(b.BytesPerLine, r.BytesPerLine);
      }
    }
  }
  std::printf("\nbest of %d runs\n%-24s %10s %10s %10s %10s %12s %9s %s\n", runs, "side", "load ms", "scroll ms",
              "replace ms", "undo ms", "bytes/line", "replaced", "restored");
  for (int i = 0; i < 3; ++i)
    if (seen[i])
      std::printf("%-24s %10.1f %10.1f %10.1f %10.1f %12.1f %9ld %s\n", titles[i], best[i].Load, best[i].Scroll,
                  best[i].Replace, best[i].Undo, best[i].BytesPerLine, best[i].Replaced,
                  restoredAll[i] ? "yes" : "NO");
  return failures == 0 ? 0 : 1;
}
