// The error stack: rendering of codes, order, the sixteenth push, cut domains, error chains.
#include "errors/error_stack.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "errors/localize.h"

namespace {

const std::string kHeader = "VexaOrlaSetUpper 4.0.2: ";

class ErrorStack : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(g_err_buf, 0, sizeof g_err_buf);
        vexa::setLocalizer(nullptr);
    }
    void TearDown() override { vexa::setLocalizer(nullptr); }
};

std::string rendered(std::int64_t code, const char* domain = nullptr) {
    KZ710stackError(domain, code);
    return KZ710getErrorString();
}

TEST_F(ErrorStack, TextForms) {
    EXPECT_EQ(rendered(1300023), kHeader + "130.0023, ");
    EXPECT_EQ(rendered(10000), kHeader + "1.0000, ");
    EXPECT_EQ(rendered(9999), kHeader + "9999, ");
    EXPECT_EQ(rendered(-5), kHeader + "-5, ");
    EXPECT_EQ(rendered(-536870206), kHeader + "-536870206, ");
    EXPECT_EQ(rendered(260, "NSCocoaErrorDomain"), kHeader + "NSCocoaErrorDomain(260), ");
    // With a domain the code shows as its low 32 bits, signed.
    EXPECT_EQ(rendered(0x1FFFFFFFFLL, "D"), kHeader + "D(-1), ");
    EXPECT_EQ(rendered(0x100000005LL, "D"), kHeader + "D(5), ");
}

TEST_F(ErrorStack, ZeroIsIgnored) {
    KZ710stackError(nullptr, 7300154);
    KZ710stackError(nullptr, 0);
    KZ710stackError("Domain", 0);
    EXPECT_EQ(KZ710getErrorString(), kHeader + "730.0154, ");
}

TEST_F(ErrorStack, RendersNewestFirstAndEmpties) {
    KZ710stackError(nullptr, 1100025);
    KZ710stackError(nullptr, 1000032);
    EXPECT_EQ(KZ710getErrorString(), kHeader + "100.0032, 110.0025, ");
    EXPECT_EQ(KZ710getErrorString(), kHeader);
    for (const auto& entry : g_err_buf) EXPECT_EQ(entry[0], '\0');
}

TEST_F(ErrorStack, SixteenthPushDropsTheOldest) {
    for (int i = 1; i <= 16; ++i) KZ710stackError(nullptr, i);
    std::string expected = kHeader;
    for (int i = 16; i >= 2; --i) expected += std::to_string(i) + ", ";
    EXPECT_EQ(KZ710getErrorString(), expected);
}

TEST_F(ErrorStack, PushAfterPartialRenderKeepsOrder) {
    // Rendering clears entries in place; later pushes must not resurrect
    // stale text from the cleared slots.
    for (int i = 1; i <= 3; ++i) KZ710stackError(nullptr, i);
    KZ710getErrorString();
    KZ710stackError(nullptr, 7);
    KZ710stackError(nullptr, 8);
    EXPECT_EQ(KZ710getErrorString(), kHeader + "8, 7, ");
}

TEST_F(ErrorStack, LongDomainIsCutAndKeepsTheCode) {
    const std::string domain(300, 'x');
    KZ710stackError(domain.c_str(), 42);
    const std::string entry = g_err_buf[0];
    EXPECT_EQ(entry.size(), 99u);
    EXPECT_EQ(entry.substr(entry.size() - 4), "(42)");
    EXPECT_EQ(entry.substr(0, 95), std::string(95, 'x'));
}

TEST_F(ErrorStack, CutDomainDoesNotSplitACharacter) {
    // With "(10)" the domain has 95 bytes of room: 47 two-byte characters
    // fit, and the cut at 95 would fall inside the 48th, which is left out.
    std::string domain;
    for (int i = 0; i < 100; ++i) domain += "\xC3\xA9";
    KZ710stackError(domain.c_str(), 10);
    std::string expected;
    for (int i = 0; i < 47; ++i) expected += "\xC3\xA9";
    EXPECT_EQ(std::string(g_err_buf[0]), expected + "(10)");
}

TEST_F(ErrorStack, ErrorChainInnermostFirst) {
    auto inner = std::make_shared<vexa::Error>(vexa::Error{"Inner", 3, {}, {}, nullptr});
    auto middle = std::make_shared<vexa::Error>(vexa::Error{"Middle", 0, {}, {}, inner});
    vexa::Error outer{"Outer", 1, {}, {}, middle};
    KZ710stackNSError(&outer);
    KZ710stackNSError(nullptr);
    // The middle error's code 0 pushes nothing, but its cause is visited.
    EXPECT_EQ(KZ710getErrorString(), kHeader + "Inner(3), Outer(1), ");
}

TEST_F(ErrorStack, HeaderFormatIsLocalized) {
    vexa::setLocalizer([](const char* key) -> std::string {
        return std::string(key) == "%@ %@: " ? "[%@ v%@] " : "";
    });
    KZ710stackError(nullptr, 5);
    EXPECT_EQ(KZ710getErrorString(), "[VexaOrlaSetUpper v4.0.2] 5, ");
}

TEST_F(ErrorStack, EmptyTranslationFallsBackToKey) {
    vexa::setLocalizer([](const char*) -> std::string { return ""; });
    EXPECT_EQ(KZ710getErrorString(), kHeader);
}

}  // namespace
