// The individual-based workbench's pedigree analysis and genetics displays:
// every series of the analysis against the definitions on a pedigree built by
// hand, the text displays, the equilibrium statistics, the genomes and their
// outputs, what needs a pedigree, Stop and closing during an analysis.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QtTest>
#include <cmath>

#include "MainWindowHarness.h"
#include "ScriptedDialogs.h"
#include "TestSupport/ExceptionMessages.h"
#include "TestSupport/Grabs.h"
#include "TestSupport/MessagePumps.h"
#include "Utile/RunTime.h"
#include "Utile/gui/CustomChartSeries.h"
#include "Utile/gui/GraphicOps.h"
#include "app/WindowServices.h"
#include "app/dlgIBSimpleU.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgVandrelU.h"
#include "models/MetapopCommon.h"
#include "tests/models/IBMHarness.h"
#include "tests/models/PedigreeReference.h"

using models::pacAdults;
using models::pacJuveniles;
using testsupport::MemoLines;
using utile::gui::tLineSeriesSet;
using vandrel::TdlgIBSimple;

namespace {

// The analysis's values of a class at a date from the definitions, laid out for n patches.
struct tExpected {
  std::vector<double> Sizes, F, Theta, Pairs;
};
tExpected ByDefinition(const models::tPedigree& pedigree, int date, models::tPedigreeAgeClass ageClass, bool alpha,
                       int n) {
  const auto a = pedigreetest::TabularRelationships(pedigree, 1);
  const pedigreetest::tMeans m = pedigreetest::MeansByDefinition(pedigree, date, ageClass, pedigreetest::TabularCoancestry(a));
  const auto cell = [&](size_t i, size_t j) { return i < m.Alpha.size() ? m.Alpha[i][j] : -1.0; };
  tExpected e;
  for (size_t p = 0; p <= size_t(n); ++p) {
    const bool known = p < m.F.size();
    e.Sizes.push_back(known ? m.Counts[p] : 0);
    e.F.push_back(known ? m.F[p] : -1);
    e.Theta.push_back(alpha ? cell(p, p) : known ? m.Theta[p] : -1);
  }
  e.Pairs.push_back(m.Alpha[0][0]);
  for (size_t k = 2; k <= size_t(n); ++k)
    for (size_t l = 1; l < k; ++l) e.Pairs.push_back(cell(k, l));
  return e;
}

}  // namespace

class IBPedigreeDisplaysTest : public QObject {
  Q_OBJECT

  vandrel::TdlgVandrel* fMain = nullptr;
  testsupport::tScriptedDialogs* fDialogs = nullptr;
  TdlgIBSimple* fIB = nullptr;

  models::tPedigree& Pedigree() const { return *fIB->Metapop->Pedigree(); }
  // n patches of capacity 10 in a line (0: the landscape as it is); Birth, Aging,
  // Reproduction (ceiling, 3), Death: adults at age 1.
  void Initialise(int n) {
    std::vector<std::pair<double, double>> positions;
    if (n > 0) models::Patches.clear();
    for (int i = 0; i < n; ++i) {
      models::tCircle c;
      c.popID = i + 1;
      c.x = 10.0 * i;
      c.A = 10;
      models::Patches.push_back(c);
      positions.emplace_back(c.x, 0.0);
    }
    if (n > 0) ibmtest::SetLandscape(positions);
    if (fIB->fEventCells.Count() == 1) DrawCycle(false);
    fIB->acInitialise->trigger();
    QVERIFY(fIB->Ready());
  }
  // (Dispersal 0.9, weighting 1.5,) Aging, Reproduction (ceiling, 3), Death after the Birth cell.
  void DrawCycle(bool dispersal) {
    const auto add = [this](models::tLifeEventType type, const char* first = nullptr, const char* second = nullptr) {
      fIB->acNewEvent[type]->trigger();
      vandrel::tEventCellControls* controls = fIB->CellControls(fIB->fEventCells.SelectedCell());
      if (first) controls->Param1->setText(first);
      if (second) controls->Param2->setText(second);
      return controls;
    };
    if (dispersal) add(models::leDispersal, "0.9", "1.5");
    add(models::leGetOlder);
    add(models::leReproduction, "3")->Param3->setCurrentIndex(models::rtCeiling);
    add(models::leDeath);
  }
  void Check(std::initializer_list<QCheckBox*> on) {
    for (QCheckBox* box : {fIB->ckJuveniles, fIB->ckAdults, fIB->ckF, fIB->ckTheta, fIB->ckAlpha})
      box->setChecked(std::find(on.begin(), on.end(), box) != on.end());
  }

 private slots:
  void init() {
    fMain = testsupport::OpenMainWindow(fDialogs);
    fIB = testsupport::OpenWorkbench<TdlgIBSimple>(fMain, vandrel::tWorkbenchKind::wkIBSimple);
    QVERIFY(fIB);
    fIB->resize(1150, 720);
  }
  void cleanup() {
    testsupport::CloseMainWindow(fMain);
  }

  void EverySeriesFollowsTheDefinitions() {
    // Three patches, a pedigree that knows two; no F, Theta or Alpha series made at Initialise.
    Initialise(3);
    pedigreetest::FillSmallRun(Pedigree());
    const int n = 3, g = 3;
    const tLineSeriesSet* sets[] = {fIB->AbundanceSeries.get(), fIB->FixationSeries.get(),
                                    fIB->CoancestrySeries.get(), fIB->AlphaSeries.get()};
    for (const bool longitudinal : {false, true})
      for (const int classes : {1, 2, 3})  // juveniles, adults, both
        for (int statistics = 0; statistics < 8; ++statistics) {
          const bool juveniles = classes & 1, adults = classes & 2, f = statistics & 1, theta = statistics & 2,
                     alpha = statistics & 4;
          fIB->ckJuveniles->setChecked(juveniles);
          fIB->ckAdults->setChecked(adults);
          fIB->ckF->setChecked(f);
          fIB->ckTheta->setChecked(theta);
          fIB->ckAlpha->setChecked(alpha);
          (longitudinal ? fIB->rbLongitudinal : fIB->rbTransversal)->setChecked(true);
          fIB->btRecomputePedigreeClick();
          const QString what = QString("longitudinal %1 classes %2 statistics %3").arg(longitudinal).arg(classes).arg(statistics);
          // The points every series should hold, by the rules of the analysis.
          std::vector<std::vector<QList<QPointF>>> expected;
          for (const tLineSeriesSet* set : sets) expected.emplace_back(set->Count());
          const auto draw = [&](int set, const std::vector<double>& values, int offset, double t) {
            for (size_t i = 0; i < values.size(); ++i)
              expected[set][3 * i + offset].append(QPointF(t, values[i] < 0 ? NAN : values[i]));
          };
          const auto drawClass = [&](const tExpected& e, int offset, double t) {
            if (f) draw(1, e.F, offset, t);
            if (theta || alpha) draw(2, e.Theta, offset, t);
            if (alpha) draw(3, e.Pairs, offset, t);
            draw(0, e.Sizes, offset, t);
          };
          for (int t = 0; t <= g; ++t) {
            const int juvenileDate = t + (longitudinal ? -1 : 0);
            const bool inRange = juveniles && juvenileDate >= 0 && juvenileDate < g;
            tExpected j{std::vector<double>(n + 1, 0), std::vector<double>(n + 1, 0), std::vector<double>(n + 1, 0),
                        std::vector<double>(4, 0)};
            if (inRange) drawClass(j = ByDefinition(Pedigree(), juvenileDate + 1, pacJuveniles, alpha, n), 0, t);
            const tExpected a = ByDefinition(Pedigree(), t + 1, pacAdults, alpha, n);
            if (adults) drawClass(a, 1, t);
            if (!juveniles || !adults) continue;
            const double total = j.Sizes[0] + a.Sizes[0];
            const double wJ = total > 0 ? j.Sizes[0] / total : 0, wA = total > 0 ? a.Sizes[0] / total : 0;
            const auto mix = [&](const std::vector<double>& x, const std::vector<double>& y) {
              std::vector<double> all;
              for (size_t i = 0; i < x.size(); ++i) {
                const bool hasX = wJ > 0 && x[i] >= 0, hasY = wA > 0 && y[i] >= 0;
                all.push_back(hasX && hasY ? wJ * x[i] + wA * y[i] : hasX ? x[i] : hasY ? y[i] : -1);
              }
              return all;
            };
            std::vector<double> sizes(n + 1);
            for (int p = 0; p <= n; ++p) sizes[p] = j.Sizes[p] + a.Sizes[p];
            draw(0, sizes, 2, t);
            if (f) draw(1, mix(j.F, a.F), 2, t);
            if (theta) draw(2, mix(j.Theta, a.Theta), 2, t);
            if (alpha) draw(3, mix(j.Pairs, a.Pairs), 2, t);
          }
          for (int s = 0; s < 4; ++s)
            for (int i = 0; i < sets[s]->Count(); ++i) {
              const QList<QPointF> points = sets[s]->Points(i);
              QVERIFY2(points.size() == expected[s][i].size(), qPrintable(what + QString(" set %1 series %2").arg(s).arg(i)));
              for (qsizetype k = 0; k < points.size(); ++k) {
                const QPointF p = points[k], e = expected[s][i][k];
                QVERIFY2(p.x() == e.x() && (std::isnan(e.y()) ? std::isnan(p.y()) : std::abs(p.y() - e.y()) < 1e-6),
                         qPrintable(what + QString(" set %1 series %2 point %3").arg(s).arg(i).arg(k)));
              }
            }
          QCOMPARE(fIB->FixationSeries->Count(), f ? 12 : fIB->FixationSeries->Count());
          QCOMPARE(fIB->AlphaSeries->Count(), alpha ? 12 : fIB->AlphaSeries->Count());
        }
    // The edge cases by hand. Longitudinal, both classes: no juveniles at t = 0, the all-classes sizes
    // are the adults' (4 in patch 1... of date 1); patch 3 has no individual: 0 and a gap.
    const tLineSeriesSet& sizes = *fIB->AbundanceSeries;
    QCOMPARE(sizes.Points(0).first().x(), 1.0);
    QCOMPARE(sizes.Points(2).first(), sizes.Points(1).first());
    QCOMPARE(sizes.Points(1).first(), QPointF(0, 4));
    QCOMPARE(sizes.Points(10).first(), QPointF(0, 0));
    QVERIFY(std::isnan(fIB->FixationSeries->Points(10).first().y()));
    // At date 2 the adults 5 and 6 are alone in their patches: no within-patch pair; between them 0.25.
    fIB->ckAlpha->setChecked(false);
    fIB->btRecomputePedigreeClick();
    QVERIFY(std::isnan(fIB->CoancestrySeries->Points(1)[1].y()));
    fIB->ckAlpha->setChecked(true);
    fIB->btRecomputePedigreeClick();
    QCOMPARE(fIB->CoancestrySeries->Points(1)[1], QPointF(1, 0.25));
    QCOMPARE(fIB->FixationSeries->Points(4)[2], QPointF(2, 0.25));  // adult 8 of 5 x 6

    // The frame of the analysis: tabs, radios, the summary and the log line.
    const QString summary = fIB->mmOutput->toPlainText().section("Juveniles\n", -1);
    QVERIFY(summary.contains("Adults\n======\nF vector\n0.375\t0.375\t-1\t-1\t\n"));
    for (QWidget* page : {fIB->tsFixations, fIB->tsCoancestries, fIB->tsAlpha})
      QVERIFY(fIB->pcResults->isTabVisible(fIB->pcResults->indexOf(page)));
    QVERIFY(fIB->rbAllAgeClasses->isEnabled() && fIB->btRecomputePedigree->isEnabled());
    QVERIFY(QRegularExpression("^Pedigree analysis terminated. Time elapsed: \\d\\d:\\d\\d:\\d\\d$")
                .match(MemoLines(fIB->mmLog).last())
                .hasMatch());
    QVERIFY(fIB->lblTask->text() == "Idle" && fIB->ggTask->value() == 0 && !fIB->IsRunning());
    // Only the final values: one point at the last date, the same summary.
    fIB->ckFinalValues->setChecked(true);
    fIB->btRecomputePedigreeClick();
    QCOMPARE(sizes.Points(1), QList<QPointF>({QPointF(3, 1)}));
    QCOMPARE(fIB->mmOutput->toPlainText().section("Juveniles\n", -1), summary);
  }

  void PedigreeBoxesCarryTheirHints() {
    const std::pair<QWidget*, const char*> hints[] = {
        {fIB->ckJuveniles, "Analyse pedigree for juveniles"},
        {fIB->ckAdults, "Analyse pedigree for adults"},
        {fIB->ckF, "Compute expected within-individual coancestry (fixation)"}};
    for (const auto& [control, hint] : hints) QCOMPARE(control->toolTip(), QString(hint));
  }

  void TextDisplaysAndTheTestPedigree() {
    Initialise(2);
    fIB->acRun->trigger();
    QVERIFY(fIB->grpDisplay->isEnabled());
    pedigreetest::FillSmallRun(Pedigree());
    fIB->mmOutput->clear();
    for (QPushButton* b : {fIB->btShowPedigree, fIB->btShowPositions, fIB->btDispersalEventMatrix,
                           fIB->btLastDispersalEvents})
      b->click();
    const QStringList lines = MemoLines(fIB->mmOutput);
    QCOMPARE(lines.size(), 11 + 11 + 3 + 3);
    QCOMPARE(lines.mid(0, 3), QStringList({"Time\tID\tMother\tFather\tPatch", "0 1 0 0 1", "0 2 0 0 1"}));
    QCOMPARE(lines[10], QString("3 10 8 5 1"));
    QCOMPARE(lines.mid(11, 2), QStringList({"ID\tBirth date\tPatch location", "1:\t0\t1\t1\t"}));
    QCOMPARE(lines[18], QString("7:\t1\t2\t"));
    // Every census (4 and 6 moved), then the last step, where 8 stayed in patch 1.
    QCOMPARE(lines.mid(22), QStringList({"Dispersal-event matrix", "5\t1", "1\t1",
                                         "Dispersal-event matrix for the last time step:", "1\t0", "0\t0"}));

    // The test pedigree replaces the run's, which must be initialised again before a run.
    fIB->btTestPedigree->click();
    const auto a = pedigreetest::TabularRelationships(Pedigree(), 1);
    QStringList expected;
    for (int i = 1; i <= 13; ++i) {
      QStringList row;
      for (int j = 1; j <= 13; ++j) row << QString::fromStdString(utile::Format("%.3g", a[i][j]));
      expected << row.join('\t');
    }
    QCOMPARE(MemoLines(fIB->mmOutput), expected);
    QVERIFY(expected[0].startsWith("1\t0\t0.5\t0.5\t") && expected[4].split('\t')[4] == "1.25" &&
            expected[6].split('\t')[6] == "1.38");
    QVERIFY(!fIB->Ready() && !fIB->btRun->isEnabled());
    fIB->mmOutput->clear();
    fIB->btShowRelMat->click();
    QCOMPARE(MemoLines(fIB->mmOutput), expected);
    // 499 records are shown (none computed: -999), 500 refused.
    for (const models::Cardinal count : {499u, 500u}) {
      Pedigree().Clear();
      for (models::Cardinal id = 1; id <= count; ++id) Pedigree().Add(1, id, 0, 0, 1, models::psNA);
      fIB->mmOutput->setPlainText("kept");
      fIB->btShowRelMat->click();
      QCOMPARE(MemoLines(fIB->mmOutput).size(), count == 499 ? 499 : 1);
    }
    QCOMPARE(fIB->mmOutput->toPlainText(), QString("kept"));
    QCOMPARE(fDialogs->Messages, std::vector<std::string>({"Matrix too large."}));
  }

  void GenomesPruningAndTheirOutputs() {
    Initialise(2);
    fIB->acRun->trigger();
    pedigreetest::FillSmallRun(Pedigree());
    fIB->edKAMrate->clear();
    QTest::keyClicks(fIB->edKAMrate, "0x");  // the key filter keeps numbers
    fIB->edSSMrate->setText("");
    QCOMPARE(fIB->edKAMrate->text(), QString("0"));
    QVERIFY(!fIB->btDisplayGenome->isEnabled());
    fIB->btMitochondrialGenome->click();
    QVERIFY(fIB->GeneticPedigree && fIB->btDisplayGenome->isEnabled());
    // Pruned to the individuals that can live at the last birth date (8, 9, 10) and their ancestors.
    fIB->rbAllGenomes->setChecked(true);
    fIB->mmOutput->clear();
    fIB->btDisplayGenome->click();
    QStringList expected = {"ID\tSex\tMotherID\tMotherGenome\tFatherID\tFatherGenome"};
    const models::tGeneticPedigree& genomes = *fIB->GeneticPedigree;
    for (const auto& [id, mother, father] : std::vector<std::tuple<int, int, int>>{
             {1, 0, 0}, {2, 0, 0}, {5, 1, 2}, {6, 1, 2}, {8, 5, 6}, {9, 5, 6}, {10, 8, 5}}) {
      expected << QString::fromStdString(utile::Format("%d\tN\t%d\t%s\t%d\t%s", id, mother, genomes.GetGenomeMother(id),
                                                       father, genomes.GetGenomeFather(id)));
      // Along the maternal line without mutation, both copies the mother's.
      QCOMPARE(genomes.GetGenomeFather(id), genomes.GetGenomeMother(id));
      if (mother) QCOMPARE(genomes.GetGenomeMother(id), genomes.GetGenomeMother(mother));
    }
    QCOMPARE(MemoLines(fIB->mmOutput), expected);
    // Unpruning drops the genomes until a genome button is pressed again; pruning keeps them.
    fIB->ckPrunePedigree->click();
    QVERIFY(!fIB->GeneticPedigree && !fIB->btDisplayGenome->isEnabled());
    fIB->btNuclearGenome->click();
    QVERIFY(fIB->GeneticPedigree->Unpruned(3));
    fIB->ckPrunePedigree->click();
    QVERIFY(fIB->GeneticPedigree && !fIB->GeneticPedigree->Unpruned(3) && fIB->btDisplayGenome->isEnabled());

    // The five outputs of the last generation in their frame, juveniles one date earlier when longitudinal.
    struct tOutput {
      QRadioButton* Radio;
      const char* Title;
    };
    for (QRadioButton* sampling : {fIB->rbTransversal, fIB->rbLongitudinal})
      for (const tOutput& o : {tOutput{fIB->rbFstat, "Fstat output"}, {fIB->rbGenePop, "GenePop output"},
                               {fIB->rbAlleleFrequencies, "Allele frequencies"}, {fIB->rbCoancestries, "Coancestries"},
                               {fIB->rbPairwiseFst, "Pairwise Fst"}}) {
        sampling->setChecked(true);
        o.Radio->setChecked(true);
        fIB->mmOutput->clear();
        fIB->btDisplayGenome->click();
        const QStringList shown = MemoLines(fIB->mmOutput);
        const QString tj = sampling == fIB->rbTransversal ? "2" : "1";
        QCOMPARE(shown.mid(0, 5), QStringList({o.Title, QString(strlen(o.Title), '='), "Time step:\t2",
                                               "Juveniles at t" + tj, QString(32, '-')}));
        QVERIFY(shown.contains("Adults at t2") && shown.last() == QString(32, '-'));
      }
    QVERIFY(fDialogs->Messages.empty());
    // Without a sampling button, and with more than 99 alleles: the message after the lines written.
    fIB->seNbAlleles->setValue(100);
    fIB->btNuclearGenome->click();
    fIB->rbGenePop->setChecked(true);
    fIB->mmOutput->clear();
    fIB->btDisplayGenome->click();
    QCOMPARE(MemoLines(fIB->mmOutput), QStringList({"GenePop output", "==============", "Time step:\t2",
                                                    "Juveniles at t1", QString(32, '-')}));
    fIB->rbLongitudinal->setAutoExclusive(false);
    fIB->rbLongitudinal->setChecked(false);
    fIB->btDisplayGenome->click();
    QCOMPARE(MemoLines(fIB->mmOutput).mid(5), QStringList({"GenePop output", "=============="}));
    QCOMPARE(fDialogs->Messages, std::vector<std::string>({"Number of alleles must be <100 to generate a GenePop output.",
                                                           "Neither transversal or longitudinal sampling."}));
  }

  void WhatNeedsAPedigreeWaitsForOne() {
    QVERIFY(!fIB->grpDisplay->isEnabled() && !fIB->btRecomputePedigree->isEnabled());
    Initialise(2);
    // The equilibrium statistics need N + 1 points of the adults' abundance: none before a run.
    fIB->btComputeEquilibrium->click();
    QCOMPARE(fDialogs->Messages.size(), size_t(1));
    QVERIFY2(fDialogs->Messages[0].find("need 501 points") != std::string::npos, fDialogs->Messages[0].c_str());
    const auto withoutPedigree = [this](const char* how) {
      QVERIFY2(!fIB->HasPedigree() && !fIB->GeneticPedigree, how);
      for (QWidget* w : std::initializer_list<QWidget*>{fIB->grpDisplay, fIB->btComputeEquilibrium,
                                                        fIB->btDisplayGenome, fIB->btNuclearGenome,
                                                        fIB->btRecomputePedigree})
        QVERIFY2(!w->isEnabled(), qPrintable(w->objectName() + " " + how));
      const std::string refused = testsupport::MessageOf<utile::EInvalidOperation>([&] { fIB->btTestPedigreeClick(); });
      QVERIFY2(refused.find("no pedigree") != std::string::npos, how);
    };
    // Unchecking the pedigree, or freeing it, takes the genomes and every display with it.
    for (const bool free : {false, true}) {
      if (!fIB->ckPedigree->isChecked()) fIB->ckPedigree->click();
      fIB->acInitialise->trigger();
      fIB->acRun->trigger();
      fIB->btNuclearGenome->click();
      QVERIFY(fIB->GeneticPedigree && fIB->grpDisplay->isEnabled() && fIB->btRecomputePedigree->isEnabled());
      fDialogs->Confirmations = {true};
      (free ? static_cast<QAbstractButton*>(fIB->btFreeMemory) : fIB->ckPedigree)->click();
      withoutPedigree(free ? "freed" : "unchecked");
    }
    // A failing analysis still logs its end.
    fIB->mmLog->clear();
    fIB->btRecomputePedigree->setEnabled(true);
    fIB->btRecomputePedigree->click();
    QVERIFY(MemoLines(fIB->mmLog).last().startsWith("Pedigree analysis terminated. Time elapsed: "));
    QVERIFY(!fIB->IsRunning() && fDialogs->Messages.size() == 3 &&  // with the question of Free memory
            fDialogs->Messages.back().find("no pedigree") != std::string::npos);
  }

  void StopAndCloseDuringAnAnalysis() {
    // 4,000 dates of two sibs each: Stop ends the analysis after the pass it is in.
    Initialise(1);
    fIB->acRun->trigger();
    Pedigree().Clear();
    for (models::Cardinal id = 1; id <= 8000; ++id) {
      const models::Cardinal k = (id - 1) / 2;  // the pair of date k, of the pair before
      Pedigree().Add(k, id, k ? 2 * k - 1 : 0, k ? 2 * k : 0, 1, models::psNA);
    }
    Check({fIB->ckJuveniles, fIB->ckAdults, fIB->ckF, fIB->ckAlpha});
    fIB->mmOutput->clear();
    const auto betweenTwoDates = [this] {
      const int points = fIB->AbundanceSeries->PointCount(0);
      for (int s = 1; s < fIB->AbundanceSeries->Count(); ++s)
        if (fIB->AbundanceSeries->PointCount(s) != points) return false;
      return points > 0 && points < 4000 && fIB->mmOutput->toPlainText().isEmpty();
    };
    // The analysis, with a message that arrives once it has drawn its tenth date
    // (at the next chance it gives messages to pass, however fast the machine).
    const auto recomputeWith = [this](auto&& message) {
      bool sent = false;
      testsupport::tEveryPumpCall calls([&] {
        if (sent || fIB->AbundanceSeries->PointCount(0) < 10) return;
        sent = true;
        QTimer::singleShot(0, fIB, message);
        calls.PumpNow();
      });
      fIB->btRecomputePedigree->click();
      return sent;
    };
    QVERIFY(recomputeWith([this] { fIB->btStop->click(); }));
    QVERIFY(betweenTwoDates() && !fIB->IsRunning());
    QVERIFY(MemoLines(fIB->mmLog).contains("Process interrupted by user"));
    // A close request during the analysis closes the window once it has unwound.
    QPointer<TdlgIBSimple> bench = fIB;
    QVERIFY(recomputeWith([this] { fIB->close(); }));
    QVERIFY(bench && bench->ClosePending() && betweenTwoDates());
    QTRY_VERIFY(bench.isNull());
    fIB = nullptr;
  }

  void GrabsAfterATenPatchRun() {
    fMain->seNbPatch->setValue(10);
    fMain->btMakeLandscapeClick();
    Check({fIB->ckJuveniles, fIB->ckAdults, fIB->ckF, fIB->ckTheta, fIB->ckAlpha});
    DrawCycle(true);
    Initialise(0);
    fIB->seNbTimeSteps->setValue(40);
    fIB->acRun->trigger();
    fIB->btNuclearGenome->click();
    fIB->show();
    QVERIFY(QTest::qWaitForWindowExposed(fIB));
    fIB->pcIBSimple->setCurrentWidget(fIB->tsGenetics);
    testsupport::SaveGrab(fIB, "ibgenetics-genetics");
    fIB->btDisplayGenome->click();
    fIB->pcIBSimple->setCurrentWidget(fIB->tsResults);
    for (QWidget* page : {fIB->tsCoancestries, fIB->tsAlpha, fIB->tsTextOutput}) {
      fIB->pcResults->setCurrentWidget(page);
      QApplication::processEvents();
      for (utile::gui::tGraphicChart* chart : {fIB->chAlpha, fIB->chCoancestries}) chart->Refresh();
      testsupport::SaveGrab(fIB, "ibgenetics-" + page->objectName());
    }
  }
};

QTEST_MAIN(IBPedigreeDisplaysTest)
#include "IBPedigreeDisplaysTest.moc"
