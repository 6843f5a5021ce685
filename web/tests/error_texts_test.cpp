// The result codes of docs/errors.md (made from web/errors.json) against the terminal driver:
// every code the driver gives has the text that the reference promises, and a code the driver
// has no text for gets the reference's text for other codes.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "CCounterMate.h"
#include "CJsonObject.h"

namespace {

CJsonObject read_errors() {
    std::ifstream file(COUNTERMATE_ERRORS_FILE);
    std::stringstream text;
    text << file.rdbuf();
    CJsonObject errors;
    EXPECT_TRUE(errors.Parse(text.str())) << COUNTERMATE_ERRORS_FILE << " is not JSON";
    return errors;
}

std::string driver_text(CCounterMate& driver, int code) {
    char text[200] = {};
    driver.GetErrMsg(code, text);
    return text;
}

struct DriverDeleter {
    void operator()(CCounterMate* driver) const { DestroyCounterMate(driver); }
};

TEST(ErrorReference, DriverTextsAreTheDocumentedOnes) {
    CJsonObject errors = read_errors();
    std::unique_ptr<CCounterMate, DriverDeleter> driver(CreateCounterMate());
    ASSERT_NE(driver, nullptr);
    CJsonObject& codes = errors["codes"];
    ASSERT_GT(codes.GetArraySize(), 0);
    int checked = 0;
    for (int index = 0; index < codes.GetArraySize(); ++index) {
        CJsonObject& entry = codes[static_cast<unsigned int>(index)];
        int code = 0;
        std::string text, source;
        ASSERT_TRUE(entry.Get("code", code) && entry.Get("errMsg", text) &&
                    entry.Get("source", source));
        if (source != "driver") continue;
        EXPECT_EQ(driver_text(*driver, code), text) << "retVal " << code;
        ++checked;
    }
    EXPECT_GT(checked, 20);
    std::string other;
    ASSERT_TRUE(errors["otherCodes"].Get("errMsg", other));
    for (const int undocumented : {1, -18, -23, -1000}) {
        EXPECT_EQ(driver_text(*driver, undocumented), other) << "retVal " << undocumented;
    }
}

}  // namespace
