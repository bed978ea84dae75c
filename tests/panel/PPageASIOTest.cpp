// The ASIO page on the real status block, created as a child of a test window.
#include "device/AsioSettingsKey.h"
#include "device/PanelWindow.h"
#include "device/SharedTypes.h"
#include "device/StatusBlock.h"
#include "panel/PPageASIO.h"
#include "panel/PanelIds.h"
#include "panel/TarnACPLDlg.h"
#include "tests/panel/PanelTestSupport.h"
#include "tests/support/RegistrySandbox.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using Layout = StatusBlockLayout;

class AsioPage : public ::testing::Test {
protected:
    // driverLoaded: a block exists before the page (as when the driver runs).
    void Open(bool driverLoaded) {
        if (driverLoaded) {
            ASSERT_EQ(S_OK, driver.Open());
            driver.Write(&Layout::settingsLoaded, 1);
            driver.Write(&Layout::driverState, kDriverLoaded);
            driver.Write(&Layout::bufferSize, 100);
            driver.Write(&Layout::bitsPerSample, 16);
            driver.Write(&Layout::supporBitsPerSample, kWidthFlag16);
        }
        page.reset(new CPPageASIO(nullptr));
        ASSERT_TRUE(page->Create(parent.Hwnd()));
        if (!driverLoaded) {
            ASSERT_EQ(S_OK, driver.Open());
        }
    }
    void TearDown() override {
        page.reset();
        driver.Close();
    }
    HWND Item(int id) { return GetDlgItem(page->Hwnd(), id); }
    std::string Text(int id) { return WindowText(Item(id)); }
    std::string SelectedBuffer() {
        LRESULT at = SendMessageA(Item(IDC_ASIO_PAGE_BUFFER), CB_GETCURSEL, 0, 0);
        if (at < 0) return "";
        char text[16] = {};
        SendMessageA(Item(IDC_ASIO_PAGE_BUFFER), CB_GETLBTEXT, at, reinterpret_cast<LPARAM>(text));
        return text;
    }
    void Click(int id) {
        SendMessageA(Item(id), BM_CLICK, 0, 0);
    }
    uint32_t Field(CStatusBlock::Field field) { return driver.ReadOr(field, 0xdead); }

    RegistrySandbox registry;
    TestWindow parent;
    CStatusBlock driver;
    std::unique_ptr<CPPageASIO> page;
};

TEST_F(AsioPage, CreatesTheBlockFromTheRegistryOrTheDefaults) {
    PutSettingDword(kValueBufferSize, 50);
    PutSettingDword(kValueBitsPerSample, 24);
    PutSettingDword(kValueSupporBitsPerSample, kWidthFlag16 | kWidthFlag24);
    Open(false);
    EXPECT_EQ(50u, Field(&Layout::bufferSize));
    EXPECT_EQ(24u, Field(&Layout::bitsPerSample));
    EXPECT_EQ(1u, Field(&Layout::settingsLoaded));
    EXPECT_EQ("UNLOAD", Text(IDC_ASIO_PAGE_STATE));
    EXPECT_EQ("Not Available", Text(IDC_ASIO_PAGE_DEVICE));
    EXPECT_EQ("5", SelectedBuffer());
    EXPECT_TRUE(page->IsChecked(IDC_ASIO_PAGE_BITS24));
    EXPECT_FALSE(IsShown(Item(IDC_ASIO_PAGE_BITS32)));
    EXPECT_EQ(34, SendMessageA(Item(IDC_ASIO_PAGE_BUFFER), CB_GETCOUNT, 0, 0));
}

TEST_F(AsioPage, WithoutRegistryTheBlockGetsTenMsAndSixteenBits) {
    Open(false);
    EXPECT_EQ(100u, Field(&Layout::bufferSize));
    EXPECT_EQ(16u, Field(&Layout::bitsPerSample));
    EXPECT_EQ("10", SelectedBuffer());
    EXPECT_TRUE(page->IsChecked(IDC_ASIO_PAGE_BITS16));
}

TEST_F(AsioPage, UserChoicesGoToTheBlockAndToTheRegistryWhenThePageGoes) {
    Open(true);
    driver.Write(&Layout::supporBitsPerSample, kWidthFlag16 | kWidthFlag24 | kWidthFlag32);
    page->RefreshFromBlock();
    Click(IDC_ASIO_PAGE_BITS24);
    EXPECT_EQ(24u, Field(&Layout::bitsPerSample));
    SendMessageA(Item(IDC_ASIO_PAGE_BUFFER), CB_SETCURSEL, 3, 0);  // "5"
    SendMessageA(page->Hwnd(), WM_COMMAND, MAKEWPARAM(IDC_ASIO_PAGE_BUFFER, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(Item(IDC_ASIO_PAGE_BUFFER)));
    EXPECT_EQ(50u, Field(&Layout::bufferSize));
    SendMessageA(page->Hwnd(), WM_COMMAND, MAKEWPARAM(IDC_ASIO_PAGE_RESET, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Item(IDC_ASIO_PAGE_RESET)));
    EXPECT_EQ(1u, Field(&Layout::resetRequest));

    page.reset();
    uint32_t stored = 0;
    ASSERT_TRUE(GetSettingDword(kValueBufferSize, &stored));
    EXPECT_EQ(50u, stored);
    ASSERT_TRUE(GetSettingDword(kValueBitsPerSample, &stored));
    EXPECT_EQ(24u, stored);
}

TEST_F(AsioPage, BufferSelectionIsTheFirstLengthNotBelowTheBlock) {
    Open(true);
    driver.Write(&Layout::bufferSize, 95);
    page->RefreshFromBlock();
    EXPECT_EQ("10", SelectedBuffer());
    driver.Write(&Layout::bufferSize, 6001);  // past the list: the selection stays
    page->RefreshFromBlock();
    EXPECT_EQ("10", SelectedBuffer());
    driver.Write(&Layout::bufferSize, 6000);
    page->RefreshFromBlock();
    EXPECT_EQ("600", SelectedBuffer());
}

TEST_F(AsioPage, UnknownPreferredDepthBecomesSixteen) {
    Open(true);
    driver.Write(&Layout::bitsPerSample, 20);
    page->RefreshFromBlock();
    EXPECT_TRUE(page->IsChecked(IDC_ASIO_PAGE_BITS16));
    EXPECT_FALSE(page->IsChecked(IDC_ASIO_PAGE_BITS24));
    EXPECT_EQ(16u, Field(&Layout::bitsPerSample));
    // Default capability: only the 16-bit choice is offered.
    EXPECT_TRUE(IsShown(Item(IDC_ASIO_PAGE_BITS16)));
    EXPECT_FALSE(IsShown(Item(IDC_ASIO_PAGE_BITS24)));
    EXPECT_FALSE(IsShown(Item(IDC_ASIO_PAGE_BITS32)));
}

TEST_F(AsioPage, RunningStreamIsDescribed) {
    Open(true);
    driver.Write(&Layout::driverState, kDriverRunning);
    driver.Write(&Layout::streamRate, 44100);
    driver.Write(&Layout::period, 512);
    driver.Write(&Layout::streamWidth, 24);
    page->RefreshFromBlock();
    EXPECT_EQ("RUNNING", Text(IDC_ASIO_PAGE_STATE));
    EXPECT_EQ("2 Channels, 24 bits, 44100 Hz, Buffer 11.6 ms", Text(IDC_ASIO_PAGE_DESCRIPTION));
    EXPECT_EQ("PCM stream", Text(IDC_ASIO_PAGE_KIND));
    EXPECT_TRUE(IsShown(Item(IDC_ASIO_PAGE_KIND)));

    struct Case {
        uint32_t dsd128, dsd256;
        const char* kind;
    };
    driver.Write(&Layout::dsdActive, 1);
    for (Case c : {Case{0, 0, "DSD64 stream"}, Case{1, 0, "DSD128 stream"}, Case{0, 1, "DSD256 stream"}}) {
        driver.Write(&Layout::dsd128, c.dsd128);
        driver.Write(&Layout::dsd256, c.dsd256);
        page->RefreshFromBlock();
        EXPECT_EQ(c.kind, Text(IDC_ASIO_PAGE_KIND));
    }

    driver.Write(&Layout::driverState, 9);  // unknown states read as UNLOAD
    page->RefreshFromBlock();
    EXPECT_EQ("UNLOAD", Text(IDC_ASIO_PAGE_STATE));
    EXPECT_FALSE(IsShown(Item(IDC_ASIO_PAGE_KIND)));
    EXPECT_FALSE(IsShown(Item(IDC_ASIO_PAGE_DESCRIPTION)));
}

TEST_F(AsioPage, DriverRequestIsTakenOnce) {
    Open(true);
    UINT message = 0;
    WPARAM command = 0;
    EXPECT_FALSE(page->TakeDriverRequest(&message, &command));
    driver.Write(&Layout::changed, 1);
    driver.Write(&Layout::showPanelRequest, 1);
    ASSERT_TRUE(page->TakeDriverRequest(&message, &command));
    EXPECT_EQ(static_cast<UINT>(WM_COMMAND), message);
    EXPECT_EQ(static_cast<WPARAM>(ID_PANEL_SHOW_ASIO), command);
    EXPECT_EQ(0u, Field(&Layout::changed));
    EXPECT_EQ(0u, Field(&Layout::showPanelRequest));
    EXPECT_FALSE(page->TakeDriverRequest(&message, &command));
    driver.Write(&Layout::changed, 1);
    ASSERT_TRUE(page->TakeDriverRequest(&message, &command));
    EXPECT_EQ(static_cast<WPARAM>(ID_PANEL_REFRESH_ASIO), command);
}

TEST_F(AsioPage, StatusNeedsAParentAndListsLengthsAndDepths) {
    Open(true);
    AsioStatusRecord record;
    EXPECT_EQ(E_FAIL, page->GetAsioStatus(&record));

    // With a parent: the 34 lengths from element 0 (count at 60), then the
    // depths whose flags the block carries from 61 (count at 65).
    driver.Write(&Layout::supporBitsPerSample, kWidthFlag16 | kWidthFlag32);
    CTarnACPLDlg main;  // never created: the page needs only that it has one
    CPPageASIO child(&main);
    ASSERT_TRUE(child.Create(parent.Hwnd()));
    ASSERT_EQ(S_OK, child.GetAsioStatus(&record));
    EXPECT_EQ(2, record.words[0]);
    EXPECT_EQ(20, record.words[13]);
    EXPECT_EQ(600, record.words[33]);
    EXPECT_EQ(0, record.words[34]);
    EXPECT_EQ(34, record.words[60]);
    EXPECT_EQ(16, record.words[61]);
    EXPECT_EQ(32, record.words[62]);
    EXPECT_EQ(0, record.words[63]);
    EXPECT_EQ(2, record.words[65]);
}

}  // namespace
