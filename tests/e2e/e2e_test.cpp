// The whole program with no fakes on the serial side: the real window offscreen,
// QSerialPort, and keldrin-sim on a pseudo-terminal.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <csignal>
#include <QProcess>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <cmath>
#include <atomic>
#include <chrono>
#include <thread>

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "../platform/qt_test_app.h"
#include "platform/qt/qt_program.h"
#include "common/textnum.h"
#include "program/program.h"
#include "sim_process.h"
#include "support/process_memory.h"

namespace keldrin::test {
namespace {

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        qtApp();
        ASSERT_TRUE(dir.isValid());
        QFile port(dir.filePath("端口号.txt"));
        ASSERT_TRUE(port.open(QIODevice::WriteOnly));
        port.write("3");
        port.close();
        QFile baud(dir.filePath("波特率.txt"));
        ASSERT_TRUE(baud.open(QIODevice::WriteOnly));
        baud.write("9600");
        baud.close();
    }

    void startProgram() {
        program = std::make_unique<QtProgram>(dir.path());
        program->start();
        ASSERT_TRUE(processUntil([&] { return w().title() == "Keldrin3.0              已连接COM3"; }))
            << w().title();
        ASSERT_TRUE(boxes.empty()) << boxes.front();
    }
    MainWin& w() { return program->model(); }
    Globals& g() { return program->globals(); }
    // As the operator would: a disabled button does nothing.
    void click(Button& b) {
        program->dispatcher().post([&b] {
            if (b.enabled()) b.clicked();
        });
    }
    bool allReadingsArrived(int channels) {
        for (int i = 1; i <= channels; ++i) {
            if (g().channelValues[static_cast<std::size_t>(i)] == 0.0f) return false;
        }
        return true;
    }

    QTemporaryDir dir;
    std::unique_ptr<QtProgram> program;
    std::vector<std::string> boxes;
    QString fileToChoose;  // what the operator picks in a file dialog
    // The operator: OK to every message box, fileToChoose in every file dialog.
    ModalAnswerer answerer{[this](QWidget& modal) { answerOkAndPick(modal, boxes, fileToChoose); }};
};

TEST_F(EndToEnd, StartPollsTheTickedProbesInRotationAndShowsTheirReadings) {
    SimProcess sim(dir.path());
    ASSERT_TRUE(sim.ok());
    startProgram();
    click(w().启动);
    ASSERT_TRUE(processUntil([&] { return allReadingsArrived(4); }, 10000));
    ASSERT_TRUE(processUntil([&] { return w().CT(4).text() != "0.000"; }));
    // Probe 2 of the simulator reads negative; 5 to 8 are not ticked and keep 0.
    EXPECT_EQ(w().CT(2).text().substr(0, 1), "-");
    for (int i = 1; i <= 4; ++i) {
        float v = g().channelValues[static_cast<std::size_t>(i)];
        EXPECT_GT(std::fabs(v), 1.0f) << i;
        EXPECT_LT(std::fabs(v), 40.0f) << i;
    }
    for (int i = 5; i <= 8; ++i) EXPECT_EQ(g().channelValues[static_cast<std::size_t>(i)], 0.0f);
    EXPECT_GE(g().sentFrameCount, 4);
    EXPECT_GE(g().receivedFrameCount, 4);
    EXPECT_NE(w().编辑框发送.text(), "");
    EXPECT_NE(w().编辑框接收.text().find("\r\n"), std::string::npos);
}

// A terminal that stays open but silent, as a box switched off and on: the watchdog
// trips, the port is closed and opened again, as 连接 would, 30 s after the last byte,
// and readings resume once the box answers.
TEST_F(EndToEnd, SilenceTripsTheWatchdogThenReopensThePortAndReadingsResumeAfterIt) {
    SimProcess sim(dir.path());
    ASSERT_TRUE(sim.ok());
    startProgram();
    click(w().启动);
    ASSERT_TRUE(processUntil([&] { return allReadingsArrived(4); }, 10000));
    sim.toggleSilence();
    QElapsedTimer quiet;
    quiet.start();
    ASSERT_TRUE(processUntil([&] { return g().silenceTicks > 2; }, 10000));
    EXPECT_EQ(g().receiveBuffer.size(), 0u);
    // Until then the title tells of the start-up connection.
    ASSERT_TRUE(processUntil([&] { return w().title() == "Keldrin              已连接COM3"; }, 40000));
    EXPECT_GE(quiet.elapsed(), 25000);
    EXPECT_TRUE(program->port().isOpen());
    sim.toggleSilence();
    ASSERT_TRUE(processUntil([&] { return g().silenceTicks == 0; }, 10000));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(EndToEnd, StrayBytesAreOutlivedAndTheStreamRealigns) {
    SimProcess sim(dir.path(), {"--stray", "0.3", "--seed", "7"});
    ASSERT_TRUE(sim.ok());
    startProgram();
    int flushes = 0;
    auto watchdog = w().时钟4清屏.tick;
    w().时钟4清屏.tick = [&, watchdog] {
        watchdog();
        if (g().silenceTicks > 2) ++flushes;
    };
    click(w().启动);
    // Misaligned frames match no probe; the watchdog empties the buffer and the next
    // answer starts aligned, so readings keep arriving.
    ASSERT_TRUE(processUntil([&] { return flushes > 0 && g().silenceTicks == 0; }, 20000));
    ASSERT_TRUE(processUntil([&] { return allReadingsArrived(4); }, 10000));
    for (int i = 1; i <= 4; ++i) EXPECT_LT(std::fabs(g().channelValues[static_cast<std::size_t>(i)]), 40.0f);
}

// Random bytes, as from a box left at another baud rate: clicks still take effect at
// once, memory stays flat, and readings come back as soon as the noise stops.
TEST_F(EndToEnd, LineNoiseHoldsUpNoClickGrowsNoMemoryAndReadingsComeBackAfterIt) {
    const struct {
        const char* rate;  // bytes per second; 0: as fast as the terminal takes them
        long growthLimitKb;
    } cases[] = {{"11520", 5 * 1024}, {"0", 20 * 1024}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        SimProcess sim(dir.path(), {"--noise-after", "1500", "--noise-for", "3000", "--noise-rate", c.rate});
        ASSERT_TRUE(sim.ok());
        startProgram();
        click(w().启动);
        ASSERT_TRUE(processUntil([&] { return allReadingsArrived(4); }, 10000));
        auto dropped = [&] { return program->port().discardedBytes() + program->port().overflowedBytes(); };
        // The operator's clicks are taken between passes of the event loop (none during a
        // pause): no pass may last long, before or during the noise. Before the backlog
        // was bounded, one lasted minutes.
        qint64 longest = 0;
        for (QElapsedTimer t; t.isValid() ? t.elapsed() < 8000 : (t.start(), true);) {
            longest = std::max(longest, longestEventLoopPassMs(50));
            if (dropped() > 1000) break;
        }
        ASSERT_GT(dropped(), 1000u);
        const long rssBefore = statusKb("VmRSS:");
        for (const char* caption : {"启动", "停止", "启动", "停止"}) {
            click(w().启动);
            EXPECT_EQ(w().启动.text(), caption);
            longest = std::max(longest, longestEventLoopPassMs(300));
        }
        EXPECT_LT(longest, 1000);
        // The noise stops when nothing more is dropped.
        for (auto last = dropped(); processFor(400), dropped() != last;) last = dropped();
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's quarantine and shadow make RSS meaningless
        EXPECT_LT(statusKb("VmRSS:") - rssBefore, c.growthLimitKb);
#else
        (void)rssBefore;
#endif
        for (int i = 1; i <= 4; ++i) g().channelValues[static_cast<std::size_t>(i)] = 0.0f;
        EXPECT_TRUE(processUntil([&] { return allReadingsArrived(4); }, 5000));
        program.reset();
        boxes.clear();
    }
}

TEST_F(EndToEnd, RecordAtATenthOfASecondThenExportHoldsTheReadings) {
    SimProcess sim(dir.path());
    ASSERT_TRUE(sim.ok());
    startProgram();
    program->dispatcher().post([&] {
        w().组合框3.userSetSelectedIndex(0);  // "0.1秒"
    });
    click(w().启动);
    ASSERT_TRUE(processUntil([&] { return allReadingsArrived(4) && w().通用提供者1.rowCount() >= 30; }, 15000));
    click(w().启动);
    ASSERT_TRUE(processUntil([&] { return w().启动.text() == "启动"; }));
    int rows = w().通用提供者1.rowCount();

    fileToChoose = dir.filePath("day");
    click(w().按钮6);
    ASSERT_TRUE(processUntil([&] { return QFile::exists(dir.filePath("day.csv")); }));
    QFile csv(dir.filePath("day.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = csv.readAll().split('\n');
    ASSERT_GE(lines.size(), rows + 1);
    EXPECT_EQ(lines[0], QByteArray("\xca\xb1\xbc\xe4,1,2,3,4,5,6,7,8,\r"));  // 时间 in GBK
    // The last recorded rows carry the readings that were shown.
    QList<QByteArray> cells = lines[rows].split(',');
    ASSERT_EQ(cells.size(), 10);
    for (int c = 1; c <= 4; ++c) {
        bool ok = false;
        double v = cells[c].toDouble(&ok);
        EXPECT_TRUE(ok) << cells[c].constData();
        EXPECT_GT(std::fabs(v), 1.0);
    }
    for (int c = 5; c <= 8; ++c) EXPECT_TRUE(cells[c].isEmpty());
    EXPECT_NE(std::find(boxes.begin(), boxes.end(), "数据导出成功。\r\n文件路径为：" + dir.filePath("day").toStdString()),
              boxes.end());
}

TEST_F(EndToEnd, ReadWriteReadBackThenBindAProbeToTheNewChannel) {
    SimProcess sim(dir.path());
    ASSERT_TRUE(sim.ok());
    startProgram();
    click(w().按钮3);
    ASSERT_TRUE(processUntil([&] { return w().编辑框2.text() == "23"; }, 10000));
    EXPECT_EQ(w().编辑框1.text(), "2");
    EXPECT_EQ(w().编辑框3.text(), "9600");
    EXPECT_EQ(w().编辑框4.text(), "低");
    EXPECT_TRUE(w().按钮4.enabled());
    EXPECT_TRUE(w().按钮5.enabled());

    // A new receiver channel; the probes are still bound to the old one.
    program->dispatcher().post([&] { w().编辑框6.userSetText("30"); });
    click(w().按钮4);
    ASSERT_TRUE(processUntil([&] { return w().编辑框2.text() == "30"; }, 10000));
    w().编辑框2.setText("");
    click(w().按钮3);
    ASSERT_TRUE(processUntil([&] { return w().编辑框2.text() == "30"; }, 10000));

    // Only probe 1 ticked: it no longer answers on the new channel ...
    for (int i = 2; i <= 8; ++i) w().选择框(i).setChecked(false);
    click(w().启动);
    processFor(1200);
    EXPECT_EQ(g().channelValues[1], 0.0f);
    EXPECT_GT(g().silenceTicks, 2);
    click(w().启动);
    // ... until it is bound to the receiver's address and new channel. Acquisition
    // disabled 按钮5; reading the parameters enables it again.
    ASSERT_TRUE(processUntil([&] { return w().按钮3.enabled(); }));
    click(w().按钮3);
    ASSERT_TRUE(processUntil([&] { return w().按钮5.enabled(); }, 10000));
    click(w().按钮5);
    ASSERT_TRUE(processUntil([&] { return g().awaitingParameterReply == 0; }, 10000));
    click(w().启动);
    ASSERT_TRUE(processUntil([&] { return g().channelValues[1] != 0.0f; }, 10000));
    EXPECT_GT(std::fabs(g().channelValues[1]), 1.0f);
}

// The bytes on the wire, read from the other end of a pseudo-terminal with their times:
// the ticks that the zero command's pauses hold back must not send polls in a burst.
TEST_F(EndToEnd, AZeroCommandDuringAcquisitionIsFollowedByOnePollNotABurst) {
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(::symlink(::ptsname(master), dir.filePath("COM3").toLocal8Bit().constData()), 0);
    startProgram();
    ::tcflush(master, TCIOFLUSH);  // the greeting
    std::atomic<bool> stop{false};
    std::vector<std::pair<std::chrono::steady_clock::time_point, std::vector<std::uint8_t>>> frames;
    std::thread reader([&] {
        std::vector<std::uint8_t> pending;
        while (!stop) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            std::uint8_t buf[256];
            const ssize_t n = ::read(master, buf, sizeof buf);
            for (ssize_t k = 0; k < n; ++k) {
                pending.push_back(buf[k]);
                if (pending.size() == 10) frames.emplace_back(std::chrono::steady_clock::now(), std::move(pending)), pending = {};
            }
        }
    });
    program->dispatcher().post([&] {
        for (int i = 1; i <= 8; ++i) w().选择框(i).setChecked(i == 1);
    });
    click(w().启动);
    processFor(700);
    click(w().按钮发送);  // 600 ms of pauses while polling runs
    processFor(700);
    stop = true;
    reader.join();
    ::close(slave);
    ::close(master);

    auto zero = std::find_if(frames.begin(), frames.end(), [](const auto& f) { return f.second[3] == 0x06; });
    ASSERT_NE(zero, frames.end());
    std::vector<std::chrono::steady_clock::time_point> polls;
    for (auto f = zero; f != frames.end(); ++f) {
        if (f->second[3] == 0x03) polls.push_back(f->first);
    }
    ASSERT_GE(polls.size(), 2u);
    for (std::size_t k = 1; k < polls.size(); ++k) {
        EXPECT_GE(polls[k] - polls[k - 1], std::chrono::milliseconds(50)) << "poll " << k;
    }
}

TEST_F(EndToEnd, AnUnpluggedBoxWhileRecordingComesBackByItselfAndTheRowsHoldGapsNotFrozenValues) {
    // The box goes away after 1.5 s and comes back on a new terminal 4 s later.
    SimProcess sim(dir.path(), {"--vanish-after", "1500", "--return-after", "4000"});
    ASSERT_TRUE(sim.ok());
    startProgram();
    program->dispatcher().post([&] { w().组合框3.userSetSelectedIndex(0); });  // "0.1秒"
    click(w().启动);
    ASSERT_TRUE(processUntil([&] { return allReadingsArrived(4); }, 10000));

    SerialErrorCount errors(program->port());
    ASSERT_TRUE(processUntil([&] { return !program->port().isOpen(); }, 10000));
    const int rowsWhenLost = w().通用提供者1.rowCount();
    const int errorsWhenLost = errors.count();
    ASSERT_TRUE(processUntil([&] { return w().title() == "Keldrin              连接断开COM3，重连中。。。"; }));
    // A closed port raises no further errors: nothing spins.
    processFor(300);
    EXPECT_LE(errors.count() - errorsWhenLost, 2);

    // Back on its new terminal, and opened again without anybody choosing 连接.
    ASSERT_TRUE(processUntil([&] { return sim.process().canReadLine(); }, 10000));
    ASSERT_TRUE(processUntil([&] { return w().title() == "Keldrin              已连接COM3"; }, 5000));
    EXPECT_TRUE(program->port().isOpen());
    const int rowsWhenBack = w().通用提供者1.rowCount();
    ASSERT_TRUE(processUntil([&] { return w().通用提供者1.rowCount() >= rowsWhenBack + 30; }, 10000));
    EXPECT_TRUE(boxes.empty());  // nothing on the link is reported

    // A row every tick throughout; the outage shows as gaps, and no reading is repeated
    // for longer than it is current (2.4 s, 24 rows).
    RecordStore& t = w().通用提供者1;
    EXPECT_GE(rowsWhenBack - rowsWhenLost, 35);
    for (int c = 2; c <= 5; ++c) {
        int gaps = 0, run = 0, longestRun = 0;
        std::string previous;
        for (int r = 1; r <= t.rowCount(); ++r) {
            const std::string cell(t.cell(r, c));
            gaps += cell.empty() && r > rowsWhenLost ? 1 : 0;
            run = !cell.empty() && cell == previous ? run + 1 : 1;
            longestRun = std::max(longestRun, run);
            previous = cell;
        }
        EXPECT_GE(gaps, 10) << c;
        EXPECT_LE(longestRun, 24) << c;
        EXPECT_NE(t.cell(t.rowCount(), c), "") << c;
    }
}

// The recording half of the crash test below, run by it as a child process: records at
// "0.1秒" in the folder it is given and prints every row it appended, until killed.
TEST(EndToEndCrashChild, RecordsAndPrintsItsRowsUntilKilled) {
    const QString folder = qEnvironmentVariable("KELDRIN_CRASH_CHILD_DIR");
    if (folder.isEmpty()) GTEST_SKIP() << "the child of EndToEnd.AKilledProgramsRowsAreRescuedAtTheNextStart";
    qtApp();
    ModalAnswerer answerer([](QWidget& modal) {
        if (auto* box = qobject_cast<QMessageBox*>(&modal)) box->button(QMessageBox::Ok)->click();
    });
    QtProgram program(folder);
    program.start();
    MainWin& w = program.model();
    program.dispatcher().post([&] { w.组合框3.userSetSelectedIndex(0); });
    program.dispatcher().post([&] { w.启动.clicked(); });
    int printed = 0;
    for (QElapsedTimer t; t.isValid() ? t.elapsed() < 60000 : (t.start(), true);) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        for (; printed < w.通用提供者1.rowCount(); ++printed) {
            std::string line = "ROW ";
            for (int c = 1; c <= 9; ++c) line += std::string(w.通用提供者1.cell(printed + 1, c)) + ",";
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        }
    }
}

// A kill in the middle of recording costs no row: the next start rescues every row the
// grid had, as an export of them would have written them.
TEST_F(EndToEnd, AKilledProgramsRowsAreRescuedAtTheNextStart) {
    SimProcess sim(dir.path());
    ASSERT_TRUE(sim.ok());
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments({QStringLiteral("--gtest_filter=EndToEndCrashChild.*")});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KELDRIN_CRASH_CHILD_DIR"), dir.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.start();
    ASSERT_TRUE(child.waitForStarted(5000));
    std::vector<std::string> printed;
    auto take = [&] {
        while (child.canReadLine()) {
            const std::string line = child.readLine().trimmed().toStdString();
            if (line.rfind("ROW ", 0) == 0) printed.push_back(line.substr(4));
        }
    };
    ASSERT_TRUE(processUntil([&] { return take(), printed.size() >= 30; }, 30000));
    ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
    ASSERT_TRUE(child.waitForFinished(5000));
    take();

    program = std::make_unique<QtProgram>(dir.path());
    program->start();
    ASSERT_TRUE(processUntil([&] { return !boxes.empty(); }, 5000));
    const QStringList rescued = QDir(dir.path()).entryList({QStringLiteral("恢复记录_*.csv")});
    ASSERT_EQ(rescued.size(), 1);
    QFile csv(dir.filePath(rescued[0]));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = csv.readAll().split('\n');
    ASSERT_EQ(lines.takeLast(), QByteArray());  // after the last CR LF
    const std::size_t rows = static_cast<std::size_t>(lines.size()) - 1;
    // The grid may have taken a row or two it had not yet printed when it was killed.
    EXPECT_GE(rows, printed.size());
    EXPECT_LE(rows, printed.size() + 2);
    for (std::size_t r = 0; r < printed.size(); ++r) {
        EXPECT_EQ(lines[static_cast<qsizetype>(r + 1)].toStdString(), printed[r] + "\r") << r;
    }
    EXPECT_EQ(boxes.front(), "上次运行未保存的记录已恢复。\r\n共 " + std::to_string(rows) + " 行，文件路径为：" +
                                 rescued[0].toStdString());
}

}  // namespace
}  // namespace keldrin::test
