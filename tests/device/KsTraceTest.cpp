#include "device/KsIrpTarget.h"
#include "device/KsTrace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr DWORD kDebugPrintException = 0x40010006;  // DBG_PRINTEXCEPTION_C

// OutputDebugStringA raises its text as an exception for a debugger to see;
// a vectored handler sees it first and lets it pass on.
std::vector<std::string>* g_printed = nullptr;

LONG CALLBACK SeeDebugOutput(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD& record = *info->ExceptionRecord;
    if (record.ExceptionCode == kDebugPrintException && record.NumberParameters >= 2 && g_printed) {
        g_printed->push_back(reinterpret_cast<const char*>(record.ExceptionInformation[1]));
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

class KsTrace : public ::testing::Test {
protected:
    void SetUp() override {
        if (GetEnvironmentVariableA("VELMOR_KS_TRACE", nullptr, 0) != 0) GTEST_SKIP() << "VELMOR_KS_TRACE is set";
        g_printed = &printed;
        handler = AddVectoredExceptionHandler(1, SeeDebugOutput);
    }
    void TearDown() override {
        SetTraceThreshold(0);
        if (handler) RemoveVectoredExceptionHandler(handler);
        g_printed = nullptr;
    }
    std::vector<std::string> printed;
    void* handler = nullptr;
};

TEST_F(KsTrace, SilentUntilRaisedThenCutTo259Characters) {
    EXPECT_EQ(0, TraceThreshold());
    // A failing request traces at level 1: nothing at the shipped threshold.
    EXPECT_EQ(E_FAIL, CKsIrpTarget::SyncIoctl(INVALID_HANDLE_VALUE, 0, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_TRUE(printed.empty());

    SetTraceThreshold(1);
    EXPECT_EQ(E_FAIL, CKsIrpTarget::SyncIoctl(INVALID_HANDLE_VALUE, 0, nullptr, 0, nullptr, 0, nullptr));
    ASSERT_EQ(1u, printed.size()) << "OutputDebugStringA is seen by a vectored handler";
    EXPECT_EQ("CKsIrpTarget::SyncIoctl Invalid Handle", printed[0]);

    std::string longText(300, 'x');
    TraceMessage(1, "%s", longText.c_str());
    ASSERT_EQ(2u, printed.size());
    EXPECT_EQ(std::string(259, 'x'), printed[1]);
    TraceMessage(2, "above the threshold");
    EXPECT_EQ(2u, printed.size());
}

}  // namespace
