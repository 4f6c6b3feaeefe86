/* Test runner. The x87 build takes the control word to run under as
 * --x87-cw=0x27F (53-bit precision) or --x87-cw=0x37F (64-bit precision),
 * loads it, and proves by reading it back that it took effect. */
#include "test_util.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#if TEST_X87
unsigned short wanted_control_word;

unsigned short read_control_word(void)
{
    unsigned short cw;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    return cw;
}

static void load_control_word(unsigned short cw)
{
    __asm__ volatile("fldcw %0" : : "m"(cw));
}

/* Still in force while the tests run, and the precision it names is the
 * one the unit uses: 1 + 2^-60 survives only at 64-bit precision. */
TEST(X87, ControlWordInForce)
{
    EXPECT_EQ(read_control_word(), wanted_control_word);
    volatile long double one = 1.0L, tiny = ldexpl(1.0L, -60);
    const long double sum = one + tiny;
    const bool extended = (wanted_control_word & 0x300) == 0x300;
    EXPECT_EQ(sum != 1.0L, extended);
}
#endif

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
#if TEST_X87
    const char *given = NULL;
    for (int k = 1; k < argc; k++)
        if (strncmp(argv[k], "--x87-cw=", 9) == 0)
            given = argv[k] + 9;
    if (!given) {
        fprintf(stderr, "usage: %s --x87-cw=0x27F|0x37F [gtest options]\n", argv[0]);
        return 2;
    }
    wanted_control_word = (unsigned short)strtoul(given, NULL, 16);
    load_control_word(wanted_control_word);
    if (read_control_word() != wanted_control_word) {
        fprintf(stderr, "x87 control word is %#x after loading %#x\n", read_control_word(), wanted_control_word);
        return 1;
    }
    printf("x87 control word %#x\n", read_control_word());
#endif
    return RUN_ALL_TESTS();
}
