#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Runtime/Log.h"
#include "Runtime/LogSinks.h"
#include "support/Files.h"
#include "support/LogCapture.h"
#include "support/MessagePump.h"

namespace {

const wchar_t kLogFile[] = L".\\Runtime\\LoggerTest";

// A logger whose sink records lines; enabled exactly when options are set.
class RecordingLogger : public BaseLogger {
public:
    void Write(const std::wstring& line) override { lines.push_back(line); }
    bool IsEnabled() override {
        ++enabledChecks;
        return HasOptions();
    }
    std::vector<std::wstring> lines;
    int enabledChecks = 0;
};

LoggerOptions* Options(uint8_t flags, bool newline) {
    auto* o = new LoggerOptions;
    o->headerFlags = flags;
    o->appendNewline = newline;
    return o;
}

std::wstring Pid() { return L"[pid:" + std::to_wstring(::GetCurrentProcessId()) + L"]"; }
std::wstring Tid() { return L"[tid:" + std::to_wstring(::GetCurrentThreadId()) + L"]"; }

}  // namespace

TEST(Logger, UnconfiguredLoggerNeverCallsItsSink) {
    RecordingLogger logger;
    for (int level = 0; level < 3; ++level) {
        logger.Log(level, L"%s", L"x");
        logger.LogAt(level, 1, L"f", L"%d", 7);
    }
    EXPECT_TRUE(logger.lines.empty());
    EXPECT_EQ(logger.enabledChecks, 6);
}

TEST(Logger, LineFormatOfTagsHeadersAndLocation) {
    RecordingLogger logger;
    logger.SetOptions(Options(0, false));
    logger.Log(Info, L"abc");
    logger.Log(Warn, L"n=%d", 5);
    logger.Log(Error, L"%s", L"中文");
    logger.Log(7, L"untagged");
    logger.LogAt(Error, 39, L".\\Runtime\\SimpleThread", L"m");
    ASSERT_EQ(logger.lines.size(), 5u);
    EXPECT_EQ(logger.lines[0], L"[INFO]abc");
    EXPECT_EQ(logger.lines[1], L"[WARN]n=5");
    EXPECT_EQ(logger.lines[2], L"[ERRO]中文");
    EXPECT_EQ(logger.lines[3], L"untagged");
    EXPECT_EQ(logger.lines[4], L"[ERRO][.\\Runtime\\SimpleThread:39]m");
}

TEST(Logger, HeaderItemsInFixedOrderAndNewline) {
    RecordingLogger logger;
    logger.SetOptions(Options(LogPid | LogTid, true));
    logger.LogAt(Error, 12, L"CommonUtils", L"%lld", 1234567890123LL);
    logger.Log(Info, L"");  // empty message: the header alone
    ASSERT_EQ(logger.lines.size(), 2u);
    EXPECT_EQ(logger.lines[0], L"[ERRO]" + Pid() + Tid() + L"[CommonUtils:12]1234567890123\r\n");
    EXPECT_EQ(logger.lines[1], L"[INFO]" + Pid() + Tid() + L"\r\n");

    logger.SetOptions(Options(LogTime, false));
    logger.Log(3, L"t");
    const std::wstring& line = logger.lines.back();
    // [YYYY-MM-DD HH:MM:SS]t
    ASSERT_EQ(line.size(), 22u);
    EXPECT_EQ(line[0], L'[');
    EXPECT_EQ(line[5], L'-');
    EXPECT_EQ(line[11], L' ');
    EXPECT_EQ(line.substr(20), L"]t");
}

TEST(Logger, LongMessageIsWrittenWhole) {
    RecordingLogger logger;
    logger.SetOptions(Options(0, false));
    const std::wstring big(20000, L'q');
    logger.Log(Info, L"<%s>", big.c_str());
    ASSERT_EQ(logger.lines.size(), 1u);
    EXPECT_EQ(logger.lines[0], L"[INFO]<" + big + L">");
}

TEST(Logger, FileLoggerWritesUtf16LinesWithoutBomAndLinesNeverInterleave) {
    TempDir dir;
    const std::wstring path = dir.File(L"log.txt");
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    FileLogger& logger = FileLogger::Instance();
    EXPECT_FALSE(logger.IsEnabled());
    logger.SetOutputFile(f);
    logger.SetOptions(Options(0, true));

    constexpr int kPerThread = 300;
    auto writer = [&](wchar_t c) {
        const std::wstring chunk(100, c);
        for (int i = 0; i < kPerThread; ++i) logger.LogAt(Info, i, L"T", L"%s", chunk.c_str());
    };
    std::thread a(writer, L'a'), b(writer, L'b');
    a.join();
    b.join();
    logger.SetOptions(nullptr);
    logger.SetOutputFile(nullptr);
    fclose(f);

    const std::string bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size() % 2, 0u);
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    EXPECT_NE(text.substr(0, 6), L"\xFEFF");
    int lines = 0;
    for (size_t pos = 0; pos < text.size();) {
        const size_t end = text.find(L"\r\n", pos);
        ASSERT_NE(end, std::wstring::npos);
        const std::wstring line = text.substr(pos, end - pos);
        const size_t body = line.find(L']', 7) + 1;
        const std::wstring payload = line.substr(body);
        ASSERT_EQ(payload.size(), 100u);
        EXPECT_EQ(payload.find_first_not_of(payload[0]), std::wstring::npos) << "interleaved line";
        ++lines;
        pos = end + 2;
    }
    EXPECT_EQ(lines, 2 * kPerThread);
}

// One KV_LOG event reaches each chosen sink once, the file (written after
// the trace and console sinks formatted the same arguments) whole and at the
// non-trace level; an event without the file sink leaves it alone.
TEST(Logger, OneEventReachesEveryChosenSinkOnceWithItsLevel) {
    LogCapture capture;
    TraceLogger::Instance().SetOptions(Options(0, true));
    ConsoleLogger::Instance().SetConsoleReady(true);
    ConsoleLogger::Instance().SetOptions(Options(0, true));
    const int line = __LINE__ + 1;
    KV_LOG(kToTrace | kToConsole | kToFile, LogLevels(Error, Warn), L"%s=%d %hs", L"n", 5, "x");
    KV_LOG(kToTrace | kToConsole, Info, L"not for the file");
    KV_LOG(kToFile, Info, L"file only %d", 7);
    TraceLogger::Instance().SetOptions(nullptr);
    ConsoleLogger::Instance().SetOptions(nullptr);
    ConsoleLogger::Instance().SetConsoleReady(false);

    EXPECT_EQ(capture.Text(), L"[WARN][.\\Runtime\\LoggerTest:" + std::to_wstring(line) + L"]n=5 x\r\n" +
                                  L"[INFO][.\\Runtime\\LoggerTest:" + std::to_wstring(line + 2) +
                                  L"]file only 7\r\n");
}
