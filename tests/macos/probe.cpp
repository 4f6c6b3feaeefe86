/* A second, tiny bundle for the test loader, with what the plug-in itself
 * does not exercise: a table of pointers into the bundle, each rebased at
 * load; a function pointer bound at load rather than lazily; and calls of
 * two functions with narrow results from a library of its own, whose
 * results it hands on the way Apple's convention lets it: as the 32-bit
 * values that the callee widened them to. */
#include <math.h>

extern "C" {
/* From @rpath/libprobe.dylib, which the test loader supplies. */
bool probe_flag(void);
short probe_short(void);

extern const char *const probe_words[4];
extern double (*probe_round_down)(double);
unsigned probe_flag_value(void);
int probe_flag_branch(void);
int probe_short_value(void);

const char *const probe_words[4] = {"north", "east", "south", "west"};
double (*probe_round_down)(double) = floor;

unsigned probe_flag_value(void)
{
    return probe_flag();
}

int probe_flag_branch(void)
{
    return probe_flag() ? 1 : 2;
}

int probe_short_value(void)
{
    return probe_short();
}
}
