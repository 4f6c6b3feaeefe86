/* A second, tiny bundle for the test loader, with what the plug-in itself
 * does not exercise: a table of pointers into the bundle, each rebased at
 * load, and a function pointer bound at load rather than lazily. */
#include <math.h>

extern "C" {
extern const char *const probe_words[4];
extern double (*probe_round_down)(double);

const char *const probe_words[4] = {"north", "east", "south", "west"};
double (*probe_round_down)(double) = floor;
}
