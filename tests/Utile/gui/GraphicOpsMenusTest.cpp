// The context menus of charts and map images, answered by the test in place of a
// person.
#include <QChart>
#include <QLineSeries>
#include <QPointer>
#include <QSvgRenderer>
#include <QTabWidget>
#include <QtTest>
#include <optional>

#include "TestSupport/StatisticalChecks.h"
#include "Utile/RunTime.h"
#include "Utile/gui/GraphicOps.h"

using namespace utile;
using namespace utile::gui;

namespace {

// What the dialogs were asked and what they answer.
struct tAnswers {
  std::optional<QString> FileName;
  std::optional<QString> Line;
  QStringList Asked;
  QStringList Messages;
  QStringList Errors;

  void Install() {
    ChartDialogs().SaveFileName = [this](QWidget*, const QString& title, const QString& filter,
                                         const QString& extension) {
      Asked << title + "|" + filter + "|" + extension;
      return FileName;
    };
    ChartDialogs().InputQuery = [this](QWidget*, const QString& caption, const QString& prompt,
                                       const QString& text) {
      Asked << caption + "|" + prompt + "|" + text;
      return Line;
    };
    ChartDialogs().ShowMessage = [this](QWidget*, const QString& text) { Messages << text; };
    ChartDialogs().ShowError = [this](QWidget*, const QString& text) { Errors << text; };
  }
};

void Settle() {
  for (int i = 0; i < 5; ++i) {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

// Opens the shared menu on a chart and closes it again, as a right click would.
tGraphPopUp& MenuOn(tGraphicChart* chart) {
  GraphPopUp().PopupFor(chart, QPoint(10, 10));
  GraphPopUp().hide();
  return GraphPopUp();
}

QString ReadAll(const QString& fileName) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) return "(missing)";
  return QString::fromUtf8(file.readAll());
}

}  // namespace

class GraphicOpsMenusTest : public QObject {
  Q_OBJECT
private slots:
  void init() {
    ResetChartProperties();
    ResetChartDialogs();
  }

  void ChartMenuHasItsItemsInOrder() {
    QStringList captions;
    for (QAction* item : GraphPopUp().actions()) captions << (item->isSeparator() ? "-" : item->text());
    QCOMPARE(captions, (QStringList{"Save graph &image...", "Save graph &data...", "-", "&View metadata",
                                    "&Add metadata...", "-", "&Close graph"}));
    QStringList mapCaptions;
    for (QAction* item : GraphMapPopUp().actions()) {
      mapCaptions << (item->isSeparator() ? "-" : item->text());
      if (!item->isSeparator() && item->menu() == nullptr) QVERIFY(!item->isEnabled());
    }
    QCOMPARE(mapCaptions, (QStringList{"Save map &image...", "Save map &data...", "-", "&View metadata",
                                       "&Add metadata...", "-", "&Transparency"}));
    QStringList percents;
    for (QAction* item : GraphMapPopUp().mnTransparency->actions()) {
      percents << item->text();
      QCOMPARE(item->data().toInt() * 10, item->text().mid(1).chopped(1).toInt());
    }
    QCOMPARE(percents.size(), 11);
    QCOMPARE(percents.first(), QString("&0%"));
    QCOMPARE(percents.last(), QString("&100%"));
  }

  void SaveDataWritesEachSeriesThenTheMetadata() {
    testsupport::tTempFolder folder;
    tAnswers answers;
    answers.FileName = QString::fromStdString(folder.File("chart.txt"));
    answers.Install();
    QWidget panel;
    auto* chart = new tGraphicChart(&panel, "", "", "");
    chart->CreateLineSeries(2);
    chart->SeriesAt(0)->setName("Occupancy");
    chart->SeriesAt(1)->setName("Size");
    chart->AddPoints({0.5, 10}, 1);
    chart->AddPoints({0.25, 12}, 2);
    chart->AppendNullPoint(qobject_cast<QXYSeries*>(chart->SeriesAt(1)), 3);  // a gap holds no value
    chart->Metadata() << "N=12" << "1/alpha=30";
    MenuOn(chart).mnSaveData->trigger();
    QCOMPARE(answers.Asked, QStringList{"Save data|Tab-separated text file (*.txt)|*.txt|All (*.*)|*.*|txt"});
    const QString expected =
        "Occupancy\r\n"
        " 1.00000000000000E+0000\t 2.00000000000000E+0000\t\r\n"
        " 5.00000000000000E-0001\t 2.50000000000000E-0001\t\r\n"
        "Size\r\n"
        " 1.00000000000000E+0000\t 2.00000000000000E+0000\t\r\n"
        " 1.00000000000000E+0001\t 1.20000000000000E+0001\t\r\n"
        "N=12\r\n"
        "1/alpha=30\r\n";
    QCOMPARE(ReadAll(*answers.FileName), expected);
    QVERIFY(answers.Errors.isEmpty());
    // Cancelled: nothing written.
    answers.FileName = QString::fromStdString(folder.File("none.txt"));
    answers.FileName.reset();
    MenuOn(chart).mnSaveData->trigger();
    QVERIFY(!QFile::exists(QString::fromStdString(folder.File("none.txt"))));
  }

  void LinesDrawnWithoutSeriesAreSavedAsSeries() {
    QWidget panel;
    auto* chart = new tGraphicChart(&panel, "", "", "");
    chart->CreateLineSeries(1);
    chart->SeriesAt(0)->setName("Line");
    chart->AddPoints({3}, 1);
    const QList<QPointF> first = {{1, 0.5}, {2, std::nan("")}, {3, 0.75}}, second;
    chart->SetLayerLines([&](const tGraphicChart::tEachLine& each) {
      each("Pair 1", first);
      each("Pair 2", second);
    });
    chart->Metadata() << "N=2";
    const QString expected =
        "Line\r\n"
        " 1.00000000000000E+0000\t\r\n"
        " 3.00000000000000E+0000\t\r\n"
        "Pair 1\r\n"
        " 1.00000000000000E+0000\t 3.00000000000000E+0000\t\r\n"
        " 5.00000000000000E-0001\t 7.50000000000000E-0001\t\r\n"
        "Pair 2\r\n"
        "\r\n"
        "\r\n"
        "N=2\r\n";
    QCOMPARE(chart->DataText(), expected);
    chart->SetLayerLines(nullptr);
    QVERIFY(!chart->DataText().contains("Pair"));
  }

  void SaveImageWritesBitmapsAndVectorPictures() {
    testsupport::tTempFolder folder;
    tAnswers answers;
    answers.Install();
    QWidget window;
    window.resize(320, 240);
    auto* chart = new tGraphicChart(&window, "x", "y", "Picture");
    chart->CreateLineSeries(1);
    chart->AddPoints({1}, 0);
    chart->AddPoints({3}, 1);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    answers.FileName = QString::fromStdString(folder.File("chart.bmp"));
    MenuOn(chart).mnSaveGraph->trigger();
    QCOMPARE(answers.Asked.last(),
             QString("Save graph image|Scalable Vector Graphics (*.svg)|*.svg|Bitmap (*.bmp)|*.bmp|svg"));
    QImage bitmap(*answers.FileName, "BMP");
    QVERIFY(!bitmap.isNull());
    QCOMPARE(bitmap.size(), chart->size());
    // Bits per pixel in the file's header: 24.
    QFile raw(*answers.FileName);
    QVERIFY(raw.open(QIODevice::ReadOnly));
    const QByteArray bytes = raw.read(30);
    QCOMPARE(bytes.left(2), QByteArray("BM"));
    QCOMPARE(int(uchar(bytes[28])) | (int(uchar(bytes[29])) << 8), 24);

    answers.FileName = QString::fromStdString(folder.File("Chart.SVG"));
    MenuOn(chart).mnSaveGraph->trigger();
    QSvgRenderer svg(*answers.FileName);
    QVERIFY(svg.isValid());
    QCOMPARE(svg.viewBox(), QRect(QPoint(0, 0), chart->size()));
    QVERIFY(ReadAll(*answers.FileName).contains("Picture"));

    QVERIFY(answers.Errors.isEmpty());
    for (const char* name : {"chart.wmf", "chart.emf", "chart.png", "chart"}) {
      answers.FileName = QString::fromStdString(folder.File(name));
      MenuOn(chart).mnSaveGraph->trigger();
      QCOMPARE(answers.Errors.last(), QString("Unsupported format"));
      QVERIFY(!QFile::exists(*answers.FileName));
    }
    // A folder that does not exist: the error is shown, nothing is left behind.
    answers.Errors.clear();
    answers.FileName = QString::fromStdString(folder.File("missing/chart.bmp"));
    MenuOn(chart).mnSaveGraph->trigger();
    QCOMPARE(answers.Errors.size(), 1);
    QVERIFY(answers.Errors[0].contains("chart.bmp"));
  }

  void MetadataIsShownAndAddedLineByLine() {
    tAnswers answers;
    answers.Install();
    QWidget panel;
    auto* chart = new tGraphicChart(&panel, "", "", "");
    chart->Metadata() << "N=5";
    answers.Line = "delta=0.1";
    MenuOn(chart).mnAddMetadata->trigger();
    QCOMPARE(answers.Asked.last(), QString("Graph metadata||"));
    answers.Line.reset();  // cancelled: nothing is added, not even an empty line
    MenuOn(chart).mnAddMetadata->trigger();
    answers.Line = "";  // an empty answer given with OK is a line of its own
    MenuOn(chart).mnAddMetadata->trigger();
    QCOMPARE(chart->Metadata(), (QStringList{"N=5", "delta=0.1", ""}));
    MenuOn(chart).mnViewMetadata->trigger();
    QCOMPARE(answers.Messages, QStringList{"N=5\ndelta=0.1\n"});
  }

  void CloseFreesThePageTheWindowOrTheChart() {
    // Not closable: the item is disabled for this chart and does nothing.
    QTabWidget tabs;
    QPointer<tGraphicChart> onPage = new tGraphicChart(&tabs, "", "", "Page");
    QVERIFY(!MenuOn(onPage).mnClose->isEnabled());
    GraphPopUp().OnCloseClick();
    Settle();
    QVERIFY(!onPage.isNull());
    QCOMPARE(tabs.count(), 1);

    onPage->SetCanBeClosed(true);
    QVERIFY(MenuOn(onPage).mnClose->isEnabled());
    GraphPopUp().mnClose->trigger();
    Settle();
    QVERIFY(onPage.isNull());
    QCOMPARE(tabs.count(), 0);

    QPointer<tGraphicChart> own = new tGraphicChart(nullptr, "", "", "");
    QPointer<QWidget> window = own->window();
    own->SetCanBeClosed(true);
    MenuOn(own).mnClose->trigger();
    Settle();
    QVERIFY(window.isNull());
    QVERIFY(own.isNull());

    QWidget panel;
    QPointer<tGraphicChart> inPanel = new tGraphicChart(&panel, "", "", "");
    inPanel->SetCanBeClosed(true);
    MenuOn(inPanel).mnClose->trigger();
    Settle();
    QVERIFY(inPanel.isNull());

    // The item follows the chart it is opened on.
    auto* closable = new tGraphicChart(&panel, "", "", "");
    closable->SetCanBeClosed(true);
    auto* fixed = new tGraphicChart(&panel, "", "", "");
    QVERIFY(!MenuOn(fixed).mnClose->isEnabled());
    QVERIFY(MenuOn(closable).mnClose->isEnabled());
  }

  void TransparencyItemsSetTheWindowsBlending() {
    const struct {
      Integer Tag;
      bool Blend;
      Integer Value;
    } cases[] = {
        {0, true, 255},  {1, true, 229},  // 25.5 rounds to 26
        {2, true, 204},  {4, true, 153}, {5, true, 127},  // 127.5 rounds to the even 128
        {6, true, 102},  {8, true, 51},  {10, false, 0},
    };
    for (const auto& c : cases) {
      const tAlphaBlend blend = tGraphMapPopUp::AlphaBlendFor(c.Tag);
      QCOMPARE(blend.AlphaBlend, c.Blend);
      QCOMPARE(blend.AlphaBlendValue, c.Value);
    }
    QWidget window;
    auto* mapImage = new QWidget(&window);
    window.show();
    GraphMapPopUp().PopupFor(mapImage, QPoint(5, 5));
    GraphMapPopUp().hide();
    GraphMapPopUp().mnTransparency->actions()[5]->trigger();
    QVERIFY(std::fabs(window.windowOpacity() - 127 / 255.0) < 0.003);
    GraphMapPopUp().mnTransparency->actions()[10]->trigger();  // blending off: opaque
    QCOMPARE(window.windowOpacity(), 1.0);
    // A map image inside a panel of a window leaves the window alone.
    auto* panel = new QWidget(&window);
    auto* inner = new QWidget(panel);
    GraphMapPopUp().PopupFor(inner, QPoint(5, 5));
    GraphMapPopUp().hide();
    GraphMapPopUp().OnTransparency(5);
    QCOMPARE(window.windowOpacity(), 1.0);
  }
};

QTEST_MAIN(GraphicOpsMenusTest)
#include "GraphicOpsMenusTest.moc"
