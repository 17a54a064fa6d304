#include <gtest/gtest.h>

#include <regex>

#include "q/q_common.h"
#include "test_support.h"

TEST(Log, LineFormatWithoutColour) {
    LogCapture log(6);
    q_log(6, "hello %s", "50% of it");
    q_log(7, "debug lines stay out at level 6");
    const std::string text = log.text();
    // The argument's "%" is printed as it is: only the format is interpreted.
    EXPECT_TRUE(std::regex_match(
        text, std::regex("INFO:[0-9]+:(\\.\\./)?tests/q/test_log\\.cpp->TestBody:[0-9]+ hello 50% of it\n")))
        << text;
}

TEST(Log, LevelNamesAndThreshold) {
    LogCapture log(7);
    for (int level = 0; level <= 8; level++) q_log(level, "level %d", level);
    EXPECT_TRUE(std::regex_search(log.text(), std::regex("^EMERG:.*\nALERT:.*\nCRITICAL:.*\n"
                                                         "ERR:.*\nWARNING:.*\nNOTICE:.*\n"
                                                         "INFO:.*\nDEBUG:.* level 7\n$")))
        << log.text();
}
