// The remote protocol against a scripted panel: every answer byte for byte.
#include "tests/remote/FakeRemotePanel.h"

#include "device/StatusBlock.h"
#include "device/SharedTypes.h"
#include "remote/DebugListener.h"
#include "remote/RemoteIds.h"
#include "remote/RemoteProtocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kController = 0xC0A80132;  // 192.168.1.50
constexpr uint16_t kControllerPort = 0x409C;   // 40000 in network order
constexpr char kBlockName[] = "VelmorRemoteProtocolTestBlock";
constexpr char kWindowTitle[] = "Velmor remote protocol test window";

const std::string kOk = R"({"status":"ok","output":{},"error":"no"})";
const std::string kFail = R"({"status":"fail","output":{},"error":"no"})";

struct Sent {
    std::string data;
    uint32_t address;
    uint16_t port;
};

HRESULT Capture(void* context, const void* data, int length, uint32_t address, uint16_t port) {
    static_cast<std::vector<Sent>*>(context)->push_back(
        {std::string(static_cast<const char*>(data), static_cast<size_t>(length)), address, port});
    return S_OK;
}

// A hidden top-level window that counts the ASIO page refreshes it is sent.
class RefreshWindow {
public:
    RefreshWindow() {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "VelmorRemoteRefreshWindow";
        RegisterClassA(&wc);
        m_window = CreateWindowA(wc.lpszClassName, kWindowTitle, WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                 wc.hInstance, nullptr);
        s_refreshes = 0;
    }
    ~RefreshWindow() { DestroyWindow(m_window); }
    int Refreshes() const { return s_refreshes; }

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_COMMAND && LOWORD(wParam) == ID_PANEL_REFRESH_ASIO && lParam == 0) ++s_refreshes;
        return DefWindowProcA(window, message, wParam, lParam);
    }
    static int s_refreshes;
    HWND m_window = nullptr;
};
int RefreshWindow::s_refreshes = 0;

class RemoteProtocolTest : public ::testing::Test {
protected:
    RemoteProtocolTest() : protocol(panel, panel) {
        protocol.SetSender(Capture, &sent);
        protocol.SetStatusBlockName(kBlockName);
        protocol.SetPanelWindowTitle(kWindowTitle);
    }

    // The answers a request produced (normally none or one).
    std::vector<std::string> Request(const std::string& text) {
        sent.clear();
        protocol.HandleRemoteCommand(text.data(), text.size(), kController, kControllerPort);
        std::vector<std::string> answers;
        for (const auto& s : sent) {
            EXPECT_EQ(kController, s.address);
            EXPECT_EQ(kControllerPort, s.port);
            answers.push_back(s.data);
        }
        return answers;
    }
    std::string Answer(const std::string& text) {
        auto answers = Request(text);
        EXPECT_EQ(1u, answers.size()) << text;
        return answers.empty() ? std::string() : answers[0];
    }

    // A status block of the test's own, with the driver's preferences.
    void MakeBlock(uint32_t bufferSize, uint32_t bits, uint32_t widthMask) {
        ASSERT_EQ(S_OK, block.Open(kBlockName));
        block.Write(&StatusBlockLayout::bufferSize, bufferSize);
        block.Write(&StatusBlockLayout::bitsPerSample, bits);
        block.Write(&StatusBlockLayout::supporBitsPerSample, widthMask);
    }

    FakeRemotePanel panel;
    RemoteProtocol protocol;
    std::vector<Sent> sent;
    CStatusBlock block;
};

TEST_F(RemoteProtocolTest, GetStatusWithPlaybackAndRecordAndNoBlock) {
    panel.asio = true;  // available, but no block exists: no "asio"
    EXPECT_EQ(R"({"status":"ok","output":{"playback":{"rate":"44100","bit":"24","volume":"75"},)"
              R"("record":{"rate":"48000","bit":"24","volume":"50","resource":"Line In"},)"
              R"("misc":{"gpio":{"0":0,"2":1,"4":0,"5":1}}},"error":"no"})",
              Answer(R"({"api":"get_status"})"));
    EXPECT_EQ(protocol.LastAnswer(), sent[0].data);
}

TEST_F(RemoteProtocolTest, GetStatusWithBlockAndSpdifSelected) {
    MakeBlock(205, 32, kWidthFlag16 | kWidthFlag32);
    panel.asio = true;
    panel.playback = false;
    panel.selectedInput = 0;
    EXPECT_EQ(R"({"status":"ok","output":{"record":{"rate":"48000","bit":"24","volume":"50","resource":"SPDIF Rx"},)"
              R"("asio":{"buffer_size":"20","bit":"32"},"misc":{"gpio":{"0":0,"2":1,"4":0,"5":1}}},"error":"no"})",
              Answer(R"({"api":"get_status"})"));
}

TEST_F(RemoteProtocolTest, GetStatusAnswersOnlyWhenTheLastQuerySucceeded) {
    // The record part's query is the last: its failure silences the answer.
    panel.captureVolumeResult = E_FAIL;
    EXPECT_TRUE(Request(R"({"api":"get_status"})").empty());
    EXPECT_NE(std::string::npos, protocol.LastAnswer().find("\"playback\""));
    EXPECT_EQ(std::string::npos, protocol.LastAnswer().find("\"record\""));

    // A failing playback part with record available is still answered.
    panel.captureVolumeResult = S_OK;
    panel.renderVolumeResult = E_FAIL;
    EXPECT_EQ(R"({"status":"ok","output":{"record":{"rate":"48000","bit":"24","volume":"50","resource":"Line In"},)"
              R"("misc":{"gpio":{"0":0,"2":1,"4":0,"5":1}}},"error":"no"})",
              Answer(R"({"api":"get_status"})"));

    // No line input among the record inputs fails the record part.
    panel.renderVolumeResult = S_OK;
    panel.lineInputs = {false, false};
    EXPECT_TRUE(Request(R"({"api":"get_status"})").empty());
}

TEST_F(RemoteProtocolTest, GetDataWithOnlyAsio) {
    MakeBlock(100, 24, kWidthFlag16 | kWidthFlag32);
    FillAsioCapabilities(&panel.caps, kWidthFlag16 | kWidthFlag32);
    std::string lengths;
    for (uint32_t ms : kBufferLengthsMs) lengths += (lengths.empty() ? "\"" : ",\"") + std::to_string(ms) + "\"";
    std::string expected =
        R"({"status":"ok","output":{"asio":{"buffer_size":[)" + lengths + R"(],"bit":["16","32"]}},"error":"no"})";
    EXPECT_EQ(expected, Answer(R"({"api":"get_data"})"));
    EXPECT_EQ(34u, kBufferLengthCount);
    // An unrelated member before "api" is ignored for a get command.
    EXPECT_EQ(expected, Answer(R"({"x":[1,{"api":"vol_up"}],"api":"get_data"})"));
}

TEST_F(RemoteProtocolTest, GetDataWithPlaybackAndRecordLists) {
    auto& c = panel.caps;
    c.playback.valid = 1;
    for (int32_t rate : {192000, 96000, 48000, 44100}) AddRate(&c.playback.lists, rate);
    for (int32_t bits : {24, 16}) AddBits(&c.playback.lists, bits);
    c.record.valid = 1;
    AddRate(&c.record.lists, 48000);
    AddBits(&c.record.lists, 24);
    // Three inputs, last to first: only two names fit the record.
    EXPECT_TRUE(AddRecordResource(&c, true));
    EXPECT_TRUE(AddRecordResource(&c, false));
    EXPECT_FALSE(AddRecordResource(&c, false));
    for (int i = 0; i < 20; ++i) AddRate(&c.record.lists, 32000);
    EXPECT_EQ(kCapabilityRates, c.record.lists.rateCount);
    c.record.lists.rateCount = 1;
    EXPECT_EQ(R"({"status":"ok","output":{"playback":{"rate":["192000","96000","48000","44100"],"bit":["24","16"]},)"
              R"("record":{"rate":["48000"],"bit":["24"],"resource":["Line In","SPDIF Rx"]}},"error":"no"})",
              Answer(R"({"api":"get_data"})"));
}

TEST_F(RemoteProtocolTest, GetPlayingStatus) {
    panel.copies = {44100, 16, true, 2822400, 32, 10.9f, "DSD64", true};
    EXPECT_EQ(R"({"status":"ok","output":{"playback":{"rate":"44100","bit":"16"},)"
              R"("asio":{"rate":"2822400","bit":"32","buffer_size":"10","ASIO Format":"DSD64"}},"error":"no"})",
              Answer(R"({"api":"get_playing_status"})"));
    // Shown without a kept stream: zeros; not running: no "asio".
    panel.copies = {0, 24, true, 48000, 0, 5.0f, "PCM", false};
    EXPECT_EQ(R"({"status":"ok","output":{"playback":{"rate":"0","bit":"0"}},"error":"no"})",
              Answer(R"({"api":"get_playing_status"})"));
}

TEST_F(RemoteProtocolTest, VolumeKeysAndVelmor) {
    const std::string volume = R"({"status":"ok","output":{"playback":{"volume":""}},"error":"no"})";
    EXPECT_EQ(volume, Answer(R"({"api":"vol_up"})"));
    EXPECT_EQ(volume, Answer(R"({"api":"vol_down"})"));
    EXPECT_EQ((std::vector<std::string>{"key up", "key down"}), panel.log);
    panel.shownAddresses.clear();
    EXPECT_EQ(kOk, Answer(R"({"api":"velmor"})"));
    EXPECT_EQ(2u, panel.shownAddresses.size());
    EXPECT_EQ(kController, panel.shownAddresses[0]);
}

TEST_F(RemoteProtocolTest, FailuresAndAnswersOfOtherParties) {
    for (const char* request : {R"({"api":"VOL_UP"})", R"({"api":"reboot"})", R"({})", R"({"status":"maybe"})",
                                R"({"other":1})", R"({"api":7})", R"({"status":null})"}) {
        panel.mainDisplayClears = 0;
        EXPECT_EQ(kFail, Answer(request)) << request;
        EXPECT_EQ(1, panel.mainDisplayClears) << request;  // the main display ends up cleared
    }
    for (const char* request : {R"({"status":"ok"})", R"({"status":"fail","api":"get_status"})",
                                R"({"x":1,"status":"ok","api":"vol_up"})"}) {
        EXPECT_TRUE(Request(request).empty()) << request;
    }
    EXPECT_TRUE(panel.log.empty());
    // Text that is not a JSON object is refused the same way.
    for (const char* request : {"[1,2]", "\"get_status\"", "42", "{\"api\":", "garbage", "{\"api\":\"velmor\",}"}) {
        EXPECT_EQ(kFail, Answer(request)) << request;
    }
    // Trailing text after the first value is ignored.
    EXPECT_EQ(kOk, Answer(R"({"api":"velmor"} trailing {"api":"vol_up"} ]]])"));
}

TEST_F(RemoteProtocolTest, ServiceInactiveClearsTheMainDisplay) {
    panel.serviceActive = false;
    Answer(R"({"api":"velmor"})");
    EXPECT_EQ(2, panel.mainDisplayClears);
    panel.serviceActive = true;
    panel.mainDisplayClears = 0;
    Answer(R"({"api":"velmor"})");
    EXPECT_EQ(0, panel.mainDisplayClears);
}

TEST_F(RemoteProtocolTest, SetPlaybackVolumeZeroKeepsFormatAndMutes) {
    EXPECT_EQ(kOk, Answer(R"({"api":"set_playback_status","input":{"volume":0}})"));
    EXPECT_EQ((std::vector<std::string>{"play format 44100/24", "play reselect", "play level -100.000000/-100.000000",
                                        "play mute"}),
              panel.log);
}

TEST_F(RemoteProtocolTest, SetPlaybackTakesEachMember) {
    EXPECT_EQ(kOk, Answer(R"({"api":"set_playback_status","input":{"rate":"96000","bit":"32","volume":40}})"));
    EXPECT_EQ((std::vector<std::string>{"play format 96000/32", "play reselect", "play level -60.000000/-60.000000",
                                        "play unmute"}),
              panel.log);
    // A format-only request leaves level and mute as they are.
    panel.log.clear();
    panel.playMuted = true;
    EXPECT_EQ(kOk, Answer(R"({"api":"set_playback_status","input":{"rate":"48000"}})"));
    EXPECT_EQ((std::vector<std::string>{"play format 48000/32", "play reselect"}), panel.log);
    EXPECT_TRUE(panel.playMuted);
    // Volume above 100 sets the maximum; a refused format still sets the volume.
    panel.log.clear();
    panel.setPlaybackFormatResult = E_FAIL;
    EXPECT_EQ(kOk, Answer(R"({"api":"set_playback_status","input":{"volume":250,"rate":"12345"}})"));
    EXPECT_EQ("play level 0.000000/0.000000", panel.log[2]);
}

TEST_F(RemoteProtocolTest, SetPlaybackRefusals) {
    for (const char* request : {
             R"({"api":"set_playback_status","input":{"volume":"50"}})",     // volume as a string
             R"({"api":"set_playback_status","input":{"volume":50.5}})",     // a real
             R"({"api":"set_playback_status","input":{"volume":4294967296}})",
             R"({"api":"set_playback_status","input":{"rate":44100}})",      // rate as a number
             R"({"api":"set_playback_status","input":{"bit":"65560"}})",     // would wrap to 24
             R"({"api":"set_playback_status","input":{"resource":"Line In"}})",
             R"({"api":"set_playback_status","input":[1]})",
             R"({"api":"set_playback_status","input":{},"x":1})",
             R"({"api":"set_playback_status","api":"set_record_status"})",
         }) {
        EXPECT_EQ(kFail, Answer(request)) << request;
    }
    EXPECT_TRUE(panel.log.empty());
    // A failing gathering step answers "fail" and applies nothing.
    panel.showFormatResult = E_FAIL;
    EXPECT_EQ(kFail, Answer(R"({"api":"set_playback_status"})"));
    panel.showFormatResult = S_OK;
    panel.renderVolumeResult = E_FAIL;
    EXPECT_EQ(kFail, Answer(R"({"api":"set_playback_status"})"));
    EXPECT_TRUE(panel.log.empty());
    // An unreadable mute counts as not muted; nothing named, nothing set but the format.
    panel.renderVolumeResult = S_OK;
    panel.playMuteResult = E_FAIL;
    panel.playMuted = true;
    EXPECT_EQ(kOk, Answer(R"({"api":"set_playback_status"})"));
    EXPECT_EQ("play reselect", panel.log.back());
}

TEST_F(RemoteProtocolTest, SetRecordChoosesTheInputAndAppliesInOrder) {
    EXPECT_EQ(kOk, Answer(R"({"api":"set_record_status","input":{"resource":"SPDIF Rx","rate":"96000","volume":25}})"));
    EXPECT_EQ((std::vector<std::string>{"rec select 0", "rec format 0 96000/24", "rec level 0 -30.000000",
                                        "rec unmute 0"}),
              panel.log);
    // An unknown name passes the check and stops before applying.
    panel.log.clear();
    EXPECT_EQ(kOk, Answer(R"({"api":"set_record_status","input":{"resource":"Mic"}})"));
    EXPECT_TRUE(panel.log.empty());
}

TEST_F(RemoteProtocolTest, SetRecordRefusals) {
    for (const char* request : {
             R"({"api":"set_record_status","input":{"resource":"0123456789abcdef"}})",  // 16 characters
             R"({"api":"set_record_status","input":{"resource":"Line In","gain":3}})",
             R"({"api":"set_record_status","input":{"resource":5}})",
         }) {
        EXPECT_EQ(kFail, Answer(request)) << request;
    }
    EXPECT_EQ(kOk, Answer(R"({"api":"set_record_status","input":{"resource":"0123456789abcde"}})"));  // 15 fit
    panel.lineInputs = {false, false};
    EXPECT_EQ(kFail, Answer(R"({"api":"set_record_status"})"));
    panel.lineInputs = {false, true};
    panel.recordMuteResult = E_FAIL;
    EXPECT_EQ(kFail, Answer(R"({"api":"set_record_status"})"));
    EXPECT_TRUE(panel.log.empty());
}

TEST_F(RemoteProtocolTest, SetAsioWritesTheBlockAndRefreshesThePage) {
    RefreshWindow window;
    EXPECT_EQ(kFail, Answer(R"({"api":"set_asio_status","input":{"buffer_size":"7","bit":"24"}})"));  // no block
    EXPECT_EQ(0, window.Refreshes());

    MakeBlock(200, 32, kWidthFlag24);
    EXPECT_EQ(kOk, Answer(R"({"api":"set_asio_status","input":{"buffer_size":"7","bit":"24"}})"));
    EXPECT_EQ(70u, block.ReadOr(&StatusBlockLayout::bufferSize, 0));
    EXPECT_EQ(24u, block.ReadOr(&StatusBlockLayout::bitsPerSample, 0));
    EXPECT_EQ(0u, block.ReadOr(&StatusBlockLayout::changed, 1));
    EXPECT_EQ(1, window.Refreshes());

    // A member before "api" fails a set_ command and writes nothing.
    EXPECT_EQ(kFail, Answer(R"({"x":1,"api":"set_asio_status","input":{"buffer_size":"20"}})"));
    EXPECT_EQ(kFail, Answer(R"({"api":"set_asio_status","input":{"buffer_size":20}})"));
    EXPECT_EQ(70u, block.ReadOr(&StatusBlockLayout::bufferSize, 0));
    EXPECT_EQ(1, window.Refreshes());

    // Missing members keep the block's values; a width the driver cannot run fails.
    EXPECT_EQ(kOk, Answer(R"({"api":"set_asio_status","input":{"bit":"16"}})"));
    EXPECT_EQ(70u, block.ReadOr(&StatusBlockLayout::bufferSize, 0));
    EXPECT_EQ(16u, block.ReadOr(&StatusBlockLayout::bitsPerSample, 1));
    EXPECT_EQ(kFail, Answer(R"({"api":"set_asio_status","input":{"bit":"x16"}})"));
    EXPECT_EQ(16u, block.ReadOr(&StatusBlockLayout::bitsPerSample, 1));
}

// Another program's window with the panel's title that does not answer
// holds the answer only briefly.
TEST_F(RemoteProtocolTest, SetAsioDoesNotWaitForAWindowThatDoesNotAnswer) {
    MakeBlock(200, 24, kWidthFlag24);
    HANDLE created = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // Never handles a message, but ends on its own after a while: a protocol
    // that waits for it fails below instead of hanging the program.
    std::thread hung([&] {
        HWND window = CreateWindowA("STATIC", kWindowTitle, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        SetEvent(created);
        WaitForSingleObject(release, 20000);
        DestroyWindow(window);
    });
    struct Release {
        HANDLE created, release;
        std::thread& thread;
        ~Release() {
            SetEvent(release);
            thread.join();
            CloseHandle(created);
            CloseHandle(release);
        }
    } releaseAtEnd{created, release, hung};
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(created, 30000)) << "step: the window of the other program";
    DWORD start = GetTickCount();
    EXPECT_EQ(kOk, Answer(R"({"api":"set_asio_status","input":{"buffer_size":"20"}})"));
    EXPECT_LT(GetTickCount() - start, 10000u);
}

// A system-wide debug-output viewer gets the datagram's trace.
TEST_F(RemoteProtocolTest, DatagramTraceReachesADebugOutputViewer) {
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "DBWIN_BUFFER");
    HANDLE bufferReady = CreateEventA(nullptr, FALSE, TRUE, "DBWIN_BUFFER_READY");
    HANDLE dataReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
    ASSERT_TRUE(mapping && bufferReady && dataReady);
    Sleep(kDebugListenerCheckMs + 100);  // a look before this one may be a second old
    std::vector<char> slot(kUdpSlotSize, 0);
    std::memcpy(slot.data() + kUdpSlotPayloadOffset, "{\"api\":\"velmor\"}", 16);
    protocol.HandleDatagram(slot.data(), slot.size());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(dataReady, 2000));
    const char* view = static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(nullptr, view);
    EXPECT_NE(nullptr, std::strstr(view + sizeof(DWORD), "{\"api\":\"velmor\"}"));
    UnmapViewOfFile(view);
    SetEvent(bufferReady);
    CloseHandle(dataReady);
    CloseHandle(bufferReady);
    CloseHandle(mapping);
}

TEST_F(RemoteProtocolTest, SetMiscChecksTheGpioTable) {
    EXPECT_EQ(kOk, Answer(R"({"api":"set_misc_status","input":{"gpio":{"3":1,"9":0}}})"));
    EXPECT_EQ(kOk, Answer(R"({"api":"set_misc_status","input":{"gpio":{"0":0,"1":1,"2":0,"3":1,"4":0,"5":1,"6":0}}})"));
    EXPECT_EQ(kOk, Answer(R"({"api":"set_misc_status","input":{"gpio":{"9":"x","265":[]}}})"));  // skipped pins
    for (const char* request : {
             R"({"api":"set_misc_status","input":{"led":{}}})",
             R"({"api":"set_misc_status","input":{"gpio":{"3":"1"}}})",
             R"({"api":"set_misc_status","input":{"gpio":[1]}})",
             // Eight usable pairs do not fit the table.
             R"({"api":"set_misc_status","input":{"gpio":{"0":0,"1":1,"2":0,"3":1,"4":0,"5":1,"6":0,"256":1}}})",
         }) {
        EXPECT_EQ(kFail, Answer(request)) << request;
    }
    // Every "gpio" member starts a new table.
    EXPECT_EQ(kOk, Answer(R"({"api":"set_misc_status","input":{"gpio":{"0":0,"1":1,"2":0,"3":1},)"
                          R"("gpio":{"4":0,"5":1,"6":0,"0":1}}})"));
}

TEST(RemoteVolume, MappingBothWays) {
    VolumeRange range = {-30.0f, -30.0f, -60.0f, 0.0f, 1.0f};
    EXPECT_EQ(50, VolumePercent(range));
    range.left = -59.99f;
    EXPECT_EQ(0, VolumePercent(range));
    range.left = 5.0f;  // beyond the range
    EXPECT_EQ(100, VolumePercent(range));
    range.maximum = range.minimum;  // no level control: full scale
    EXPECT_EQ(100, VolumePercent(range));
    range = {0, 0, -60.0f, 0.0f, 1.0f};
    EXPECT_EQ(-60.0f, LevelForPercent(range, -5));
    EXPECT_EQ(-60.0f, LevelForPercent(range, 0));
    EXPECT_FLOAT_EQ(-59.4f, LevelForPercent(range, 1));
    EXPECT_EQ(0.0f, LevelForPercent(range, 100));
    EXPECT_EQ(0.0f, LevelForPercent(range, 1000));
}

}  // namespace
