#include <gtest/gtest.h>

#include <cstdlib>

#include "q/q_clipboard.h"

TEST(Clipboard, SelectionsOtherThanTheSystemOne) {
    EXPECT_EQ(q_clipboard_available(), 1);
    EXPECT_EQ(q_clipboard_set(1, "primary"), 0); // unsupported, quietly accepted
    EXPECT_EQ(q_clipboard_get(1), nullptr);
    EXPECT_EQ(q_clipboard_set(2, "x"), -1);
    EXPECT_EQ(q_clipboard_get(2), nullptr);
}

TEST(Clipboard, RoundTripThroughTheDisplay) {
    ASSERT_EQ(q_clipboard_set(0, "Tavolix \xc3\xa9t\xc3\xa9"), 0);
    char* text = q_clipboard_get(0);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "Tavolix \xc3\xa9t\xc3\xa9");
    free(text);
}
