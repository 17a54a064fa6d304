#include <gtest/gtest.h>

#include <cstdlib>

#include "q/q_clipboard.h"

TEST(Clipboard, RoundTripThroughTheDisplay) {
    ASSERT_EQ(q_clipboard_set(0, "Tavolix \xc3\xa9t\xc3\xa9"), 0);
    char* text = q_clipboard_get(0);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "Tavolix \xc3\xa9t\xc3\xa9");
    free(text);
}
