// The station against simulated analyzers on a pseudo-terminal: the real poll thread, the real
// analyzer windows, the bridge between them.

#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>
#include <chrono>
#include <thread>

#include "app/station_bridge.h"
#include "device/child_frame.h"
#include "device/mirel_view.h"
#include "sim/bus.h"
#include "station_support.h"

namespace {

constexpr int kLinkUp = 174;
constexpr int kLinkDown = 175;

zta::PollTiming FastTiming() {
    zta::PollTiming t;
    t.pacingBaseMs = 20;
    t.pacingPerWindowMs = 0;
    return t;
}

CMirelView* ViewAt(CMainFrame* f, int index) {
    auto* child = qobject_cast<CChildFrame*>(f->mdiArea()->subWindowList().at(index));
    return child ? child->view() : nullptr;
}

}  // namespace

class StationLinkTest : public QObject {
    Q_OBJECT
private slots:
    void threeAnalyzersComeUpAndOneGoesSilent();
    void disconnectDuringSynchronousNotice();
    void closeWhilePolling();
};

void StationLinkTest::threeAnalyzersComeUpAndOneGoesSilent() {
    auto bus = zta::sim::Bus::OpenPty();
    QVERIFY(bus);
    for (int address : {3, 7, 12}) {
        zta::sim::AnalyzerConfig a;
        a.address = address;
        a.model = address == 7 ? zta::sim::Model::Standard : zta::sim::Model::Extended;
        bus->AddAnalyzer(a);
    }
    bus->Start();

    TestStation st({QString::fromStdString(bus->PortPath())}, MakeDocumentTemplate());
    CMainFrame* f = st.frame;
    f->SetPollTiming(FastTiming());
    QVERIFY(f->OpenNewDocument());
    QVERIFY(f->OpenNewDocument());
    const int numbers[3] = {3, 7, 12};
    for (int i = 0; i < 3; ++i) {
        CMirelView* v = ViewAt(f, i);
        QVERIFY(v);
        QCOMPARE(v->iconOf(1023), kLinkDown);
        v->numberField()->setText(QString::number(numbers[i]));
        QCOMPARE(f->block().Snapshot(i).address, numbers[i]);
    }
    f->TileWindows();

    f->router().dispatch(CmdConnect);
    QVERIFY(f->IsPolling());
    for (int i = 0; i < 3; ++i)
        QTRY_COMPARE_WITH_TIMEOUT(ViewAt(f, i)->iconOf(1023), kLinkUp, 15000);
    QCOMPARE(f->mdiArea()->subWindowList().at(0)->windowTitle(), QStringLiteral("Прибор №3"));

    bus->SetFault(7, zta::sim::Fault::Silent);
    QTRY_COMPARE_WITH_TIMEOUT(ViewAt(f, 1)->iconOf(1023), kLinkDown, 20000);
    QCOMPARE(ViewAt(f, 0)->iconOf(1023), kLinkUp);
    QCOMPARE(ViewAt(f, 2)->iconOf(1023), kLinkUp);

    f->router().dispatch(CmdDisconnect);
    QVERIFY(!f->IsPolling());
    QCOMPARE(f->paneText(0), QStringLiteral("Ready"));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(ViewAt(f, i)->iconOf(1023), kLinkDown);
    QVERIFY(st.prompter.boxes().empty());
}

void StationLinkTest::disconnectDuringSynchronousNotice() {
    auto bus = zta::sim::Bus::OpenPty();
    QVERIFY(bus);
    zta::sim::AnalyzerConfig a;
    a.address = 0;
    bus->AddAnalyzer(a);
    bus->Start();

    TestStation st({QString::fromStdString(bus->PortPath())});
    CMainFrame* f = st.frame;
    f->SetPollTiming(FastTiming());
    f->Connect();
    RecordingView* view = st.view(0);
    QTRY_VERIFY_WITH_TIMEOUT(view->count(NoticeDataChanged) >= 1, 10000);

    // The UI thread is busy without its event loop while the poll thread finishes its next
    // turn: that turn's data notice waits for the UI thread when Disconnect begins.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const int before = view->count(NoticeDataChanged);
    f->Disconnect();
    QVERIFY2(!f->IsPolling(), "the poll thread did not end: the wait stalled on its notice");
    QVERIFY(view->count(NoticeDataChanged) > before);  // served during the wait
    QCOMPARE(view->notices.back().code, int(NoticeDisconnected));
    QCOMPARE(view->count(NoticeDisconnected), 1);
}

void StationLinkTest::closeWhilePolling() {
    auto bus = zta::sim::Bus::OpenPty();
    QVERIFY(bus);
    zta::sim::AnalyzerConfig a;
    a.address = 0;
    bus->AddAnalyzer(a);
    bus->Start();

    auto st = std::make_unique<TestStation>(QStringList{QString::fromStdString(bus->PortPath())},
                                            MakeDocumentTemplate());
    CMainFrame* f = st->frame;
    f->SetPollTiming(FastTiming());
    for (int i = 0; i < 5; ++i)
        f->OpenNewDocument();
    f->Connect();
    QTRY_COMPARE_WITH_TIMEOUT(ViewAt(f, 0)->iconOf(1023), kLinkUp, 10000);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // Exit while polling: the thread is stopped before the windows go.
    f->router().dispatch(CmdExit);
    QVERIFY(!f->IsPolling());
    QVERIFY(QFile::exists(st->dir.filePath(QStringLiteral("CalDataK7.cfg"))));
    st.reset();  // windows and block go; nothing may still be polling them
}

QTEST_MAIN(StationLinkTest)
#include "station_link_test.moc"
