// The read progress window as the monitor shows it: a real X server (Xvfb)
// with a window manager (openbox), its screen read from the framebuffer the
// server itself keeps in a file (-fbdir) while the read runs inside the click.
// The offscreen platform paints into memory whatever happens, and a picture
// taken by a client is not the screen either: xwd -root shows a window that
// lies wholly over another window of the program black although the
// framebuffer holds it drawn, and import rebuilds every window from its own
// contents. The framebuffer is what the monitor shows.
#include "config/ConfigWindows.h"
#include "config/Form4.h"
#include "config/RegisterTable.h"
#include "link/MeterModels.h"
#include "link/Module1.h"
#include "sim/SimCard.h"

#include <QApplication>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QThread>
#include <QWindow>

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <optional>
#include <vector>

namespace vardel {
namespace {

// An X server of our own with openbox on it; no display when either is
// missing or does not come up.
class XServer {
public:
    XServer()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty())
            return;
        // A display number nobody uses: the server refuses a taken one.
        for (int n = 90 + static_cast<int>(QCoreApplication::applicationPid() % 400); n < 990 && m_display.isEmpty(); n += 7) {
            const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(n);
            if (QFileInfo::exists(socket) || QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
                continue;
            m_server.start(QStringLiteral("Xvfb"),
                           {QStringLiteral(":%1").arg(n), QStringLiteral("-screen"), QStringLiteral("0"),
                            QStringLiteral("1024x768x24"), QStringLiteral("-fbdir"), m_dir.path(),
                            QStringLiteral("-nolisten"), QStringLiteral("tcp")});
            if (!m_server.waitForStarted(3000))
                return;
            if (waitFor([&] { return QFileInfo::exists(socket); }, m_server)) {
                m_display = QStringLiteral(":%1").arg(n);
            } else {
                m_server.kill();
                m_server.waitForFinished(1000);
            }
        }
        if (m_display.isEmpty())
            return;
        // openbox runs its start-up command once it manages the screen.
        const QString ready = m_dir.filePath(QStringLiteral("openbox-ready"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        env.insert(QStringLiteral("HOME"), m_dir.path());
        m_wm.setProcessEnvironment(env);
        m_wm.start(QStringLiteral("openbox"), {QStringLiteral("--startup"), QStringLiteral("touch ") + ready});
        if (!m_wm.waitForStarted(3000) || !waitFor([&] { return QFileInfo::exists(ready); }, m_wm))
            m_display.clear();
    }
    ~XServer()
    {
        for (QProcess* p : {&m_wm, &m_server}) {
            if (p->state() == QProcess::NotRunning)
                continue;
            p->terminate();
            if (!p->waitForFinished(2000)) {
                p->kill();
                p->waitForFinished(1000);
            }
        }
    }
    const QString& display() const { return m_display; }

    // The framebuffer as the monitor shows it, 0xRRGGBB per pixel.
    struct Shot {
        int width = 0;
        int height = 0;
        std::vector<std::uint32_t> rgb;
        std::uint32_t at(int x, int y) const { return rgb[static_cast<std::size_t>(y * width + x)]; }
    };
    // The server keeps screen 0 in this file as an XWD image, written in place.
    std::optional<Shot> grab() const { return readXwd(m_dir.filePath(QStringLiteral("Xvfb_screen0"))); }

private:
    template <class Done>
    static bool waitFor(Done done, const QProcess& process)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done()) {
            if (process.state() == QProcess::NotRunning || std::chrono::steady_clock::now() > until)
                return false;
            QThread::msleep(10);
        }
        return true;
    }

    static std::optional<Shot> readXwd(const QString& path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return std::nullopt;
        const QByteArray data = f.readAll();
        QDataStream in(data);
        in.setByteOrder(QDataStream::BigEndian);
        quint32 h[25] = {};
        for (quint32& v : h)
            in >> v;
        const quint32 headerSize = h[0], width = h[4], height = h[5], byteOrder = h[7], bitsPerPixel = h[11],
                      bytesPerLine = h[12], redMask = h[14], greenMask = h[15], blueMask = h[16], colours = h[19];
        if (in.status() != QDataStream::Ok || h[2] != 2 || (bitsPerPixel != 24 && bitsPerPixel != 32) || !redMask
            || !greenMask || !blueMask)
            return std::nullopt;
        const quint32 bytes = bitsPerPixel / 8;
        const qsizetype start = static_cast<qsizetype>(headerSize + colours * 12);
        if (data.size() < start + static_cast<qsizetype>(bytesPerLine * height))
            return std::nullopt;
        const auto channel = [](quint32 pixel, quint32 mask) { return (pixel & mask) >> std::countr_zero(mask); };
        Shot shot;
        shot.width = static_cast<int>(width);
        shot.height = static_cast<int>(height);
        shot.rgb.reserve(static_cast<std::size_t>(width) * height);
        for (quint32 y = 0; y < height; ++y) {
            const auto* row = reinterpret_cast<const unsigned char*>(data.constData() + start + y * bytesPerLine);
            for (quint32 x = 0; x < width; ++x) {
                const unsigned char* p = row + x * bytes;
                quint32 pixel = 0;
                for (quint32 b = 0; b < bytes; ++b)
                    pixel |= quint32(p[byteOrder == 0 ? b : bytes - 1 - b]) << (8 * b);
                shot.rgb.push_back(channel(pixel, redMask) << 16 | channel(pixel, greenMask) << 8 | channel(pixel, blueMask));
            }
        }
        return shot;
    }

    QTemporaryDir m_dir;
    QProcess m_server;
    QProcess m_wm;
    QString m_display;
};

// How much of each part of the window the framebuffer shows as the window
// paints it now (rendered by Qt off the screen): the whole inside, the bar
// and the counter box, each the share of pixels that agree.
struct Seen {
    double window = 0.0;
    double bar = 0.0;
    double counter = 0.0;
};

Seen look(const XServer::Shot& shot, Form4& form)
{
    const QImage painted = form.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QPoint origin = form.mapToGlobal(QPoint(0, 0));
    const auto share = [&](const QRect& local) {
        int same = 0, all = 0;
        for (int y = local.top(); y <= local.bottom(); ++y) {
            for (int x = local.left(); x <= local.right(); ++x) {
                const QPoint at = origin + QPoint(x, y);
                if (at.x() < 0 || at.y() < 0 || at.x() >= shot.width || at.y() >= shot.height || !painted.valid(x, y))
                    continue;
                const QColor want = QColor::fromRgb(painted.pixel(x, y)), got = QColor::fromRgb(shot.at(at.x(), at.y()));
                same += std::abs(want.red() - got.red()) + std::abs(want.green() - got.green()) + std::abs(want.blue() - got.blue()) < 24;
                ++all;
            }
        }
        return all ? static_cast<double>(same) / all : 0.0;
    };
    const auto inWindow = [&](const QWidget* w) { return QRect(w->mapTo(&form, QPoint(0, 0)), w->size()); };
    return {share(form.rect()), share(inWindow(form.progressBar())), share(inWindow(form.counter()))};
}

struct Requests : LinkListener {
    int sent = 0;
    std::function<void(int)> atRequest;
    void linkEvent(LinkEvent event, std::span<const std::uint8_t>) override
    {
        if (event == LinkEvent::RequestSent && atRequest)
            atRequest(sent++);
    }
};

// The read never returns to the event loop: what the framebuffer holds at a
// request is what the user sees while the meter is asked.
TEST(ReadWindowOnScreen, IsDrawnBeforeTheFirstExchangeAndFollowsTheRegisters)
{
    XServer x;
    if (x.display().isEmpty())
        GTEST_SKIP() << "Xvfb with openbox could not start here";
    qputenv("DISPLAY", x.display().toLocal8Bit());
    int argc = 3;
    char arg0[] = "test_read_window_screen", arg1[] = "-platform", arg2[] = "xcb";
    char* argv[] = {arg0, arg1, arg2, nullptr};
    QApplication app(argc, argv);

    QTemporaryDir names;
    {
        QFile f(QDir(names.path()).filePath(namesFileNameOf(kModelKX4)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        QStringList lines;
        for (int r = 0; r < regCountOf(kModelKX4); ++r)
            lines << QStringLiteral("Rejestr %1").arg(r);
        f.write(QStringEncoder("windows-1250").encode(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")));
    }
    SimCard card;
    Module1 link(card);
    RegisterTable table;
    selectModel(link, table, kModelKX4, names.path());
    link.MeterAddress = 3;
    link.BaudCode = 4;
    link.CardSetLink();

    // The read window comes up over the main window, as in the program.
    QWidget mainWindow;
    mainWindow.resize(700, 560);
    mainWindow.show();
    const QDeadlineTimer mapped(3000);
    while (!(mainWindow.windowHandle() && mainWindow.windowHandle()->isExposed()) && !mapped.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ConfigWindows windows(link, table, &mainWindow);
    Form4* form = windows.readWindow();

    const int n = regCountOf(kModelKX4);
    const int half = n / 2;
    std::optional<Seen> first, middle;
    Requests requests;
    requests.atRequest = [&](int sent) {
        if (sent != 0 && sent != half)
            return;
        const std::optional<XServer::Shot> shot = x.grab();
        ASSERT_TRUE(shot) << "the server's framebuffer file cannot be read";
        (sent == 0 ? first : middle) = look(*shot, *form);
    };
    link.setListener(&requests);
    windows.Form1_Command6_Click();
    link.setListener(nullptr);

    ASSERT_TRUE(first && middle) << requests.sent << " requests";
    // At the first request the window is there as it paints itself; half-way
    // its bar and counter on the screen are those of the registers read.
    EXPECT_GT(first->window, 0.97) << "the window is not drawn at the first exchange";
    EXPECT_GT(middle->window, 0.97);
    EXPECT_GT(middle->bar, 0.97) << "the bar stands still on the screen";
    EXPECT_GT(middle->counter, 0.97) << "the counter stands still on the screen";
}

} // namespace
} // namespace vardel

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
