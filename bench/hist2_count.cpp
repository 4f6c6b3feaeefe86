/* One call of the shipped core or of the plain walk (the core built with
 * HIST2_PLAIN_WALK) on a phantom pair (rigid map), for counting
 * instructions per grid point under callgrind:
 *   valgrind --tool=callgrind hist2_count shipped|plain [skip [d0 d1 d2]]
 * The volumes are 128x128x64 unless sizes are given. "none" does all but
 * the call, the count to subtract where only whole runs are counted (qemu).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "hist2.h"
#include "hist2_plain.h"
#include "phantom.h"

int main(int argc, char **argv)
{
    if ((argc != 2 && argc != 3 && argc != 6) ||
        (strcmp(argv[1], "shipped") && strcmp(argv[1], "plain") && strcmp(argv[1], "none"))) {
        fprintf(stderr, "usage: hist2_count shipped|plain|none [skip [d0 d1 d2]]\n");
        return 2;
    }
    const float skip = argc > 2 ? (float)atof(argv[2]) : 1.0f;
    size_t dim[3] = {128, 128, 64};
    for (int k = 0; argc == 6 && k < 3; ++k)
        dim[k] = (size_t)strtoul(argv[3 + k], NULL, 10);
    const float skips[3] = {skip, skip, skip};
    const std::vector<unsigned char> vol1 = phantom(dim, 0), vol2 = phantom(dim, 1);
    const double shift[3] = {2.5, -1.75, 1.25};
    double mat[16];
    rigid_map(dim, 0.05, 0.08, shift, mat);
    std::vector<double> hist(65536, 0.0);
    if (strcmp(argv[1], "none"))
        (strcmp(argv[1], "plain") ? hist2 : hist2_plain)(mat, vol1.data(), vol2.data(), dim, dim, hist.data(),
                                                          skips);
    double sum = 0;
    for (double h : hist)
        sum += h;
    printf("%s: %zu grid points, histogram sum %.6f\n", argv[1], grid_points(dim, skips), sum);
    return 0;
}
