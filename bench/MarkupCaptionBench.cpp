// The height of a 4 KB dialog text with bold, underlined, italic and link
// runs and line breaks, at 360 pixels: our mark-up caption against
// QTextDocument given the same text as HTML. Both parse and lay out the text
// in every iteration.

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QFont>
#include <QTextDocument>

#include <benchmark/benchmark.h>

#include <cstdlib>

#include "taskdialog/TdGraphics.h"

namespace {

QString markupText() {
  QString text;
  for (int k = 0; text.size() < 4096; ++k) {
    text += QStringLiteral("The key <b>HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor%1</b> holds values that "
                           "<u>cannot</u> be restored once deleted; see <a href=\"https://example.org/help/%1\">"
                           "the help page</a> or <i>ask your administrator</i> before going on.")
                .arg(k);
    text += (k % 3 == 2) ? QStringLiteral("\r\n") : QStringLiteral(" ");
  }
  return text;
}

// The same runs as HTML: plain text escaped, line breaks as <br>.
QString htmlText(const QString& Markup) {
  const TTdParsedCaption parsed = TdParseCaption(Markup);
  QString html;
  for (const TTdRun& run : parsed.Runs) {
    const QString text = run.Text.toHtmlEscaped();
    switch (run.Style) {
      case TTdRunStyle::Plain: html += text; break;
      case TTdRunStyle::Bold: html += QStringLiteral("<b>") + text + QStringLiteral("</b>"); break;
      case TTdRunStyle::Underline: html += QStringLiteral("<u>") + text + QStringLiteral("</u>"); break;
      case TTdRunStyle::Italic: html += QStringLiteral("<i>") + text + QStringLiteral("</i>"); break;
      case TTdRunStyle::Link:
        html += QStringLiteral("<a href=\"") + parsed.Links[size_t(run.Link)].Url.toHtmlEscaped() +
                QStringLiteral("\">") + text + QStringLiteral("</a>");
        break;
      case TTdRunStyle::NewLine: html += QStringLiteral("<br>"); break;
    }
  }
  return html;
}

const QFont& dialogFont() {
  static const QFont font(QStringLiteral("DejaVu Sans"), 9);
  return font;
}

void BM_MeasureCaptionHeight(benchmark::State& state) {
  const QString text = markupText();
  int height = 0;
  for (auto _ : state) {
    height = MeasureCaptionHeight(text, 360, dialogFont());
    benchmark::DoNotOptimize(height);
  }
  state.counters["height"] = height;
  state.counters["chars"] = double(text.size());
}
BENCHMARK(BM_MeasureCaptionHeight)->Unit(benchmark::kMicrosecond);

// The mark-up alone, for telling parsing from layout.
void BM_ParseCaption(benchmark::State& state) {
  const QString text = markupText();
  for (auto _ : state)
    benchmark::DoNotOptimize(TdParseCaption(text));
}
BENCHMARK(BM_ParseCaption)->Unit(benchmark::kMicrosecond);

void BM_QTextDocumentHeight(benchmark::State& state) {
  const QString html = htmlText(markupText());
  double height = 0;
  for (auto _ : state) {
    QTextDocument document;
    document.setDefaultFont(dialogFont());
    document.setDocumentMargin(0);
    document.setTextWidth(360);
    document.setHtml(html);
    height = document.documentLayout()->documentSize().height();
    benchmark::DoNotOptimize(height);
  }
  state.counters["height"] = height;
}
BENCHMARK(BM_QTextDocumentHeight)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
