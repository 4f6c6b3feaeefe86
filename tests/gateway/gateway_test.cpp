/*
 * The entry point over the in-process test host: the eight messages and the
 * order in which the arguments are tested, what a failed call leaves
 * behind, how the result and the skips reach the core, and the arguments
 * that are refused or survived for safety (sparse storage, skips that never
 * let the walk end, axes too long for single precision or for 32 bits).
 */
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>
#include <sys/mman.h>

#include <algorithm>
#include <string>
#include <vector>

#include "hist2.h"
#include "testhost.h"

namespace {

const size_t kHist = 65536;

/* Arrays made by a test, freed when it ends. */
class Arrays {
  public:
    ~Arrays()
    {
        for (mxArray *a : owned_)
            th_free(a);
    }
    mxArray *keep(mxArray *a)
    {
        owned_.push_back(a);
        return a;
    }
    mxArray *make(th_class cls, std::vector<size_t> dims, int complex_ = 0)
    {
        return keep(th_make(cls, dims.size(), dims.data(), complex_, 0, 0));
    }
    mxArray *sparse(size_t m, size_t n, size_t nnz)
    {
        const size_t dims[2] = {m, n};
        return keep(th_make(TH_DOUBLE, 2, dims, 0, 1, nnz));
    }
    mxArray *doubles(size_t m, size_t n, std::vector<double> values = {})
    {
        values.resize(m * n);
        return keep(th_make_double(m, n, values.data()));
    }
    mxArray *volume(size_t d0, size_t d1, size_t d2, unsigned char fill = 0)
    {
        mxArray *a = keep(th_make_uint8(d0, d1, d2, nullptr));
        memset(mxGetData(a), fill, d0 * d1 * d2);
        return a;
    }
    mxArray *pattern(size_t d0, size_t d1, size_t d2)
    {
        mxArray *a = volume(d0, d1, d2);
        unsigned char *v = static_cast<unsigned char *>(mxGetData(a));
        for (size_t k = 0; k < d0 * d1 * d2; ++k)
            v[k] = static_cast<unsigned char>((k * 37 + (k / 5) * 13) % 256);
        return a;
    }
    mxArray *identity() { return doubles(4, 4, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}); }
    mxArray *translation(double x, double y, double z)
    {
        return doubles(4, 4, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, x, y, z, 1});
    }
    mxArray *skips(double a, double b, double c) { return doubles(1, 3, {a, b, c}); }

  private:
    std::vector<mxArray *> owned_;
};

/* A lazily mapped, zero-filled block: only the pages a test touches cost
 * memory, so volumes of many gigabytes are free. */
class LazyBlock {
  public:
    explicit LazyBlock(size_t bytes) : bytes_(bytes)
    {
        void *p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        data_ = p == MAP_FAILED ? nullptr : static_cast<unsigned char *>(p);
    }
    ~LazyBlock()
    {
        if (data_)
            munmap(data_, bytes_);
    }
    unsigned char *data() const { return data_; }

  private:
    size_t bytes_;
    unsigned char *data_;
};

struct Outcome {
    const char *error; /* nullptr when the call succeeded */
    size_t created;
    std::string log;
    std::vector<double> hist; /* the result, when there was one */
    bool untouched;           /* both result slots as they were */
};

const char *kSentinelTarget = "slot";

Outcome call(int nlhs, std::vector<const mxArray *> args)
{
    mxArray *const sentinel = (mxArray *)kSentinelTarget;
    mxArray *plhs[2] = {sentinel, sentinel};
    Outcome o;
    o.error = th_call(mexFunction, nlhs, plhs, static_cast<int>(args.size()), args.data());
    o.created = th_created();
    o.log = th_log();
    o.untouched = plhs[0] == sentinel && plhs[1] == sentinel;
    if (!o.error && plhs[0] != sentinel && plhs[0] != nullptr) {
        o.hist.assign(mxGetPr(plhs[0]), mxGetPr(plhs[0]) + kHist);
        th_free(plhs[0]);
    }
    return o;
}

/* A failed call: the message, nothing created, the slots untouched, and
 * the error call as the last thing the plug-in did. */
testing::AssertionResult fails_with(const Outcome &o, const char *message)
{
    if (!o.error)
        return testing::AssertionFailure() << "succeeded, expected \"" << message << "\"";
    if (strcmp(o.error, message) != 0)
        return testing::AssertionFailure() << "failed with \"" << o.error << "\", expected \"" << message << "\"";
    if (o.created != 0)
        return testing::AssertionFailure() << "created " << o.created << " arrays before failing";
    if (!o.untouched)
        return testing::AssertionFailure() << "wrote a result slot before failing";
    const std::string tail = "mexErrMsgTxt\n";
    if (o.log.size() < tail.size() || o.log.compare(o.log.size() - tail.size(), tail.size(), tail) != 0)
        return testing::AssertionFailure() << "the log does not end with the error call:\n" << o.log;
    return testing::AssertionSuccess();
}

testing::AssertionResult all_zero(const Outcome &o)
{
    if (o.error)
        return testing::AssertionFailure() << "failed with \"" << o.error << "\"";
    if (o.hist.size() != kHist)
        return testing::AssertionFailure() << "no result";
    for (size_t k = 0; k < kHist; ++k)
        if (o.hist[k] != 0)
            return testing::AssertionFailure() << "hist[" << k << "] = " << o.hist[k];
    return testing::AssertionSuccess();
}

double total(const std::vector<double> &h)
{
    double s = 0;
    for (double v : h)
        s += v;
    return s;
}

/* The core called directly on the same arrays, for comparison. */
std::vector<double> direct(const mxArray *v1, const mxArray *v2, const mxArray *mat, const float *skips)
{
    std::vector<double> h(kHist, 0.0);
    hist2(mxGetPr(mat), static_cast<const unsigned char *>(mxGetData(v1)),
          static_cast<const unsigned char *>(mxGetData(v2)), mxGetDimensions(v1), mxGetDimensions(v2), h.data(),
          skips);
    return h;
}

/* The stand-in host itself: the error call must end the plug-in call (or
 * every message test above would pass vacuously), and what a failed call
 * created is reported and destroyed. */
int reached_after_error;

void create_then_fail(int, mxArray *plhs[], int, const mxArray *[])
{
    mxCreateDoubleMatrix(2, 2, mxREAL);
    mexErrMsgTxt("stop.");
    reached_after_error = 1;
    plhs[0] = nullptr;
}

TEST(TestHost, ErrorCallEndsThePluginCall)
{
    mxArray *const sentinel = (mxArray *)kSentinelTarget;
    mxArray *plhs[1] = {sentinel};
    reached_after_error = 0;
    EXPECT_STREQ(th_call(create_then_fail, 1, plhs, 0, nullptr), "stop.");
    EXPECT_EQ(reached_after_error, 0);
    EXPECT_EQ(plhs[0], sentinel);
    EXPECT_EQ(th_created(), 1u);
    EXPECT_STREQ(th_log(), "mxCreateDoubleMatrix\nmexErrMsgTxt\n");
}

const double kNan = NAN;
const double kInf = INFINITY;

TEST(GatewayUsage, ArgumentAndResultCounts)
{
    Arrays a;
    mxArray *v = a.volume(4, 4, 4), *m = a.identity(), *s = a.skips(1, 1, 1);
    EXPECT_TRUE(fails_with(call(1, {}), "Incorrect usage."));
    EXPECT_TRUE(fails_with(call(1, {v, v}), "Incorrect usage."));
    EXPECT_TRUE(fails_with(call(1, {v, v, m, s, s}), "Incorrect usage."));
    EXPECT_TRUE(fails_with(call(2, {v, v, m}), "Incorrect usage."));
    EXPECT_TRUE(fails_with(call(2, {v, v, m, s}), "Incorrect usage."));
    /* The counts are decided before any argument is asked about. */
    EXPECT_EQ(call(1, {v, v}).log, "mexErrMsgTxt\n");

    Outcome none = call(0, {v, v, m});
    EXPECT_EQ(none.error, nullptr);
    EXPECT_EQ(none.created, 1u);
    EXPECT_EQ(none.hist.size(), kHist) << "nlhs 0 must still store the result";
}

TEST(GatewayVolumes, WrongSortOfData)
{
    Arrays a;
    mxArray *v = a.volume(4, 4, 4), *m = a.identity();
    struct {
        mxArray *bad;
        const char *what;
    } table[] = {
        {a.make(TH_INT8, {4, 4, 4}), "int8"},          {a.make(TH_DOUBLE, {4, 4, 4}), "double"},
        {a.make(TH_LOGICAL, {4, 4, 4}), "logical"},    {a.make(TH_UINT8, {4, 4, 4}, 1), "complex uint8"},
        {a.make(TH_SINGLE, {4, 4, 4}), "single"},      {a.make(TH_INT32, {4, 4, 4}), "int32"},
        {a.make(TH_CHAR, {4, 4, 4}), "char"},          {a.make(TH_CELL, {4, 4, 4}), "cell"},
    };
    for (const auto &t : table) {
        EXPECT_TRUE(fails_with(call(1, {t.bad, v, m}), "Wrong sort of data (1).")) << t.what;
        EXPECT_TRUE(fails_with(call(1, {v, t.bad, m}), "Wrong sort of data (2).")) << t.what;
    }
}

TEST(GatewayVolumes, WrongNumberOfDims)
{
    Arrays a;
    mxArray *v = a.volume(4, 4, 4), *m = a.identity();
    mxArray *flat = a.make(TH_UINT8, {4, 4});
    mxArray *four = a.make(TH_UINT8, {4, 4, 4, 2});
    for (mxArray *bad : {flat, four}) {
        EXPECT_TRUE(fails_with(call(1, {bad, v, m}), "Wrong number of dims (1)."));
        EXPECT_TRUE(fails_with(call(1, {v, bad, m}), "Wrong number of dims (2)."));
    }
}

TEST(GatewayVolumes, AnySizesAccepted)
{
    Arrays a;
    mxArray *m = a.identity();
    /* Unequal sizes: only the 4 x 4 x 4 corner of volume 1 lands. */
    Outcome o = call(1, {a.volume(10, 10, 10, 3), a.volume(5, 5, 5, 7), m});
    ASSERT_EQ(o.error, nullptr);
    EXPECT_EQ(o.hist[7 + 256 * 3], 64);
    EXPECT_EQ(total(o.hist), 64);
    /* Sizes of 0 and 1 anywhere: a full-sized, all-zero result. */
    EXPECT_TRUE(all_zero(call(1, {a.volume(10, 0, 10), a.volume(5, 5, 5), m})));
    EXPECT_TRUE(all_zero(call(1, {a.volume(5, 5, 5), a.volume(0, 0, 0), m})));
    EXPECT_TRUE(all_zero(call(1, {a.volume(1, 1, 1), a.volume(5, 5, 5), m})));
    EXPECT_TRUE(all_zero(call(1, {a.volume(5, 5, 5), a.volume(5, 1, 5), m})));
}

TEST(GatewayMatrix, KindBeforeShape)
{
    Arrays a;
    mxArray *v = a.volume(4, 4, 4);
    const char *kind = "Wrong sort of matrix.";
    EXPECT_TRUE(fails_with(call(1, {v, v, a.make(TH_SINGLE, {4, 4})}), kind));
    EXPECT_TRUE(fails_with(call(1, {v, v, a.make(TH_DOUBLE, {4, 4}, 1)}), kind));
    EXPECT_TRUE(fails_with(call(1, {v, v, a.make(TH_SINGLE, {3, 3})}), kind));
    EXPECT_TRUE(fails_with(call(1, {v, v, a.make(TH_LOGICAL, {4, 4})}), kind));
    EXPECT_TRUE(fails_with(call(1, {v, v, a.make(TH_CHAR, {4, 4})}), kind));
    /* Sparse storage may hold fewer than 16 values: never read. */
    EXPECT_TRUE(fails_with(call(1, {v, v, a.sparse(4, 4, 1)}), kind));
    EXPECT_TRUE(fails_with(call(1, {v, v, a.sparse(4, 4, 16)}), kind));

    const char *shape = "Matrix must be 4x4.";
    for (auto mn : {std::make_pair(4, 3), std::make_pair(3, 4), std::make_pair(1, 16), std::make_pair(16, 1),
                    std::make_pair(0, 0), std::make_pair(4, 5)})
        EXPECT_TRUE(fails_with(call(1, {v, v, a.doubles(mn.first, mn.second)}), shape))
            << mn.first << "x" << mn.second;
}

TEST(GatewayMatrix, ValuesAreNotTested)
{
    Arrays a;
    mxArray *v = a.pattern(6, 6, 6);
    for (double x : {0.0, kNan, kInf, -kInf, 1e308, -1e308})
        EXPECT_TRUE(all_zero(call(1, {v, v, a.doubles(4, 4, std::vector<double>(16, x))}))) << x;
    /* Only rows and columns are asked: 4 x 2 x 2 has 4 rows and 4 columns. */
    mxArray *cube = a.make(TH_DOUBLE, {4, 2, 2});
    double *c = mxGetPr(cube);
    c[0] = c[5] = c[10] = c[15] = 1;
    Outcome o = call(1, {v, v, cube});
    ASSERT_EQ(o.error, nullptr);
    EXPECT_GT(total(o.hist), 0);
    EXPECT_EQ(o.hist, call(1, {v, v, a.identity()}).hist);
}

TEST(GatewaySkips, WrongSortOrShape)
{
    Arrays a;
    mxArray *v = a.volume(4, 4, 4), *m = a.identity();
    const char *msg = "Invalid skips.";
    mxArray *table[] = {
        a.doubles(2, 2),  a.doubles(1, 4),           a.doubles(0, 0),
        a.doubles(1, 2),  a.make(TH_SINGLE, {1, 3}), a.make(TH_INT32, {1, 3}),
        a.make(TH_DOUBLE, {1, 3}, 1), a.make(TH_LOGICAL, {1, 3}), a.make(TH_CHAR, {1, 3}),
        a.sparse(1, 3, 1), a.sparse(3, 1, 3),
    };
    for (mxArray *bad : table)
        EXPECT_TRUE(fails_with(call(1, {v, v, m, bad}), msg)) << mxGetM(bad) << "x" << mxGetN(bad);
}

/* Every message in the order the tests decide, and each test asks the
 * host only until its answer is known. */
TEST(GatewayOrder, FirstFailingTestDecides)
{
    Arrays a;
    mxArray *v = a.volume(4, 4, 4), *m = a.identity();
    mxArray *logical = a.make(TH_LOGICAL, {4, 4, 4}), *int8 = a.make(TH_INT8, {4, 4, 4});
    mxArray *flat = a.make(TH_UINT8, {4, 4});
    mxArray *single = a.make(TH_SINGLE, {3, 3}), *m43 = a.doubles(4, 3), *bad_skips = a.doubles(2, 2);

    EXPECT_TRUE(fails_with(call(1, {int8, int8}), "Incorrect usage."));
    EXPECT_TRUE(fails_with(call(1, {int8, int8, single, bad_skips}), "Wrong sort of data (1)."));
    EXPECT_TRUE(fails_with(call(1, {flat, int8, single, bad_skips}), "Wrong number of dims (1)."));
    EXPECT_TRUE(fails_with(call(1, {v, int8, single, bad_skips}), "Wrong sort of data (2)."));
    EXPECT_TRUE(fails_with(call(1, {v, flat, m43, bad_skips}), "Wrong number of dims (2)."));
    EXPECT_TRUE(fails_with(call(1, {v, v, single, bad_skips}), "Wrong sort of matrix."));
    EXPECT_TRUE(fails_with(call(1, {v, v, m43, bad_skips}), "Matrix must be 4x4."));
    EXPECT_TRUE(fails_with(call(1, {v, v, m, bad_skips}), "Invalid skips."));

    EXPECT_EQ(call(1, {logical, v, m}).log, "mxIsNumeric\nmexErrMsgTxt\n");
    EXPECT_EQ(call(1, {int8, v, m}).log, "mxIsNumeric\nmxIsUint8\nmexErrMsgTxt\n");
    EXPECT_EQ(call(1, {v, v, single}).log,
              "mxIsNumeric\nmxIsUint8\nmxIsComplex\nmxGetNumberOfDimensions\nmxGetDimensions\n"
              "mxIsNumeric\nmxIsUint8\nmxIsComplex\nmxGetNumberOfDimensions\nmxGetDimensions\n"
              "mxIsNumeric\nmxIsDouble\nmexErrMsgTxt\n");
    /* Rows that are not 4 decide without asking for the columns. */
    EXPECT_EQ(call(1, {v, v, a.doubles(3, 4)}).log.find("mxGetN\n"), std::string::npos);
}

/* A good call: every test passes before the one creation, then the data
 * queries (in any order) feed the core. */
TEST(GatewayOrder, SuccessfulCallAsksThenCreates)
{
    Arrays a;
    mxArray *v = a.volume(4, 4, 4), *m = a.identity(), *s = a.skips(1, 1, 1);
    Outcome o = call(1, {v, v, m, s});
    ASSERT_EQ(o.error, nullptr);
    EXPECT_EQ(o.created, 1u);
    const std::string tests = "mxIsNumeric\nmxIsUint8\nmxIsComplex\nmxGetNumberOfDimensions\nmxGetDimensions\n"
                              "mxIsNumeric\nmxIsUint8\nmxIsComplex\nmxGetNumberOfDimensions\nmxGetDimensions\n"
                              "mxIsNumeric\nmxIsDouble\nmxIsComplex\nmxIsSparse\nmxGetM\nmxGetN\n"
                              "mxIsNumeric\nmxIsDouble\nmxIsComplex\nmxIsSparse\nmxGetM\nmxGetN\nmxGetPr\n";
    ASSERT_EQ(o.log.compare(0, tests.size(), tests), 0) << o.log;
    std::string rest = o.log.substr(tests.size());
    const std::string create = "mxCreateDoubleMatrix\n";
    ASSERT_EQ(rest.compare(0, create.size(), create), 0) << o.log;
    rest = rest.substr(create.size());
    std::vector<std::string> after;
    for (size_t p = 0, q; (q = rest.find('\n', p)) != std::string::npos; p = q + 1)
        after.push_back(rest.substr(p, q - p));
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, (std::vector<std::string>{"mxGetData", "mxGetData", "mxGetPr", "mxGetPr"})) << o.log;
}

/* The gateway hands the core the arrays' own data and sizes, and the
 * skips converted to the nearest single. */
TEST(GatewaySkips, ReachTheCoreAsNearestSingle)
{
    Arrays a;
    mxArray *v1 = a.pattern(12, 11, 10), *v2 = a.pattern(11, 12, 13), *m = a.identity();
    const float tenth[3] = {0.1f, 2.0f, 1.5f};
    Outcome o = call(1, {v1, v2, m, a.skips(0.1, 2, 1.5)});
    ASSERT_EQ(o.error, nullptr);
    EXPECT_EQ(o.hist, direct(v1, v2, m, tenth));
    /* The result tells the neighbouring singles apart, so the match above
     * pins the conversion. */
    const float below[3] = {nextafterf(0.1f, 0.0f), 2.0f, 1.5f};
    const float above[3] = {nextafterf(0.1f, 1.0f), 2.0f, 1.5f};
    EXPECT_NE(o.hist, direct(v1, v2, m, below));
    EXPECT_NE(o.hist, direct(v1, v2, m, above));

    /* 1x3 and 3x1, and three arguments against explicit ones. */
    Outcome column = call(1, {v1, v2, m, a.doubles(3, 1, {0.1, 2, 1.5})});
    EXPECT_EQ(column.error, nullptr);
    EXPECT_EQ(column.hist, o.hist);
    Outcome three = call(1, {v1, v2, m});
    Outcome ones = call(1, {v1, v2, m, a.skips(1, 1, 1)});
    const float unit[3] = {1, 1, 1};
    EXPECT_EQ(three.hist, ones.hist);
    EXPECT_EQ(three.hist, direct(v1, v2, m, unit));
    EXPECT_GT(total(three.hist), 0);
}

/* Skips whose walk would never end are refused before anything exists. */
TEST(GatewaySkips, EndlessWalkRefused)
{
    Arrays a;
    mxArray *v = a.volume(6, 6, 6), *m = a.identity();
    for (double bad : {0.0, -0.0, -1.0, -kInf, 1e-9, -1e-9}) {
        for (int axis = 0; axis < 3; ++axis) {
            double s[3] = {1, 1, 1};
            s[axis] = bad;
            EXPECT_TRUE(fails_with(call(1, {v, v, m, a.skips(s[0], s[1], s[2])}), "Invalid skips."))
                << "skip " << bad << " on axis " << axis;
        }
    }
}

TEST(GatewaySkips, NanAndInfinityLeaveNoPoint)
{
    Arrays a;
    mxArray *v = a.pattern(6, 6, 6), *m = a.identity();
    for (double s : {kNan, kInf})
        for (int axis = 0; axis < 3; ++axis) {
            double k[3] = {1, 1, 1};
            k[axis] = s;
            EXPECT_TRUE(all_zero(call(1, {v, v, m, a.skips(k[0], k[1], k[2])}))) << s << " on axis " << axis;
        }
}

/* A tiny skip that still moves the coordinate is a long but finite walk. */
TEST(GatewaySkips, TinyAdvancingSkipRuns)
{
    Arrays a;
    mxArray *v = a.volume(3, 3, 3), *m = a.identity();
    Outcome o = call(1, {v, v, m, a.skips(1e-6, 1, 1)});
    ASSERT_EQ(o.error, nullptr);
    const float s[3] = {1e-6f, 1, 1};
    EXPECT_EQ(o.hist, direct(v, v, m, s));
    /* From 1 to below 3 in steps of 1e-6, rounded: about two million. */
    EXPECT_GT(o.hist[0], 1.9e6);
    EXPECT_LT(o.hist[0], 2.6e6);
}

/* Along an axis longer than 2^24 the single-precision coordinate stops at
 * 2^24 with skip 1; whether the walk ends there depends on the limit. */
TEST(GatewayLongAxis, DefaultSkipsDecidedByTheLimit)
{
    Arrays a;
    mxArray *small = a.volume(3, 3, 3), *m = a.identity();
    const size_t base = (size_t)1 << 24;
    for (size_t extra : {2, 3, 4, 8}) {
        const size_t dims[3] = {base + extra, 3, 3};
        LazyBlock block(dims[0] * 9);
        ASSERT_NE(block.data(), nullptr);
        mxArray *v = a.keep(th_wrap_uint8(3, dims, block.data()));
        Outcome o = call(1, {v, small, m});
        /* 2^24 + 2 - 1 rounds down to 2^24, where the walk stops; from
         * 2^24 + 3 on the limit lies above the last coordinate. */
        if (extra == 2) {
            ASSERT_EQ(o.error, nullptr);
            EXPECT_EQ(o.hist[0], 2) << "only x = 1 and 2 land in the small volume";
        } else {
            EXPECT_TRUE(fails_with(o, "Invalid skips.")) << "2^24 + " << extra;
        }
        /* A larger skip on that axis advances all the way. */
        EXPECT_EQ(call(1, {v, small, m, a.skips(4, 1, 1)}).error, nullptr);
    }
}

/* A loop that is never entered never runs, whatever its skip. */
TEST(GatewayLongAxis, AxisNeverEnteredIsNoObstacle)
{
    Arrays a;
    mxArray *small = a.volume(3, 3, 3), *m = a.identity();
    const size_t dims[3] = {((size_t)1 << 24) + 4, 2, 3};
    LazyBlock block(dims[0] * 6);
    ASSERT_NE(block.data(), nullptr);
    mxArray *v = a.keep(th_wrap_uint8(3, dims, block.data()));
    /* Axis 1 of size 2 has no grid point, so the inner loop never starts. */
    EXPECT_TRUE(all_zero(call(1, {v, small, m})));
    EXPECT_TRUE(all_zero(call(1, {v, small, m, a.skips(1e-9, 1, 1)})));
    EXPECT_TRUE(fails_with(call(1, {v, small, m, a.skips(1, 1e-9, 1)}), "Invalid skips."));
}

/* Axes beyond 2^31 voxels: integer parts and offsets do not overflow. */
TEST(GatewayLongAxis, BeyondTwoToThe31)
{
    Arrays a;
    const size_t d0 = ((size_t)1 << 31) + 1024;
    const size_t dims[3] = {d0, 3, 3};
    LazyBlock block2(d0 * 9);
    ASSERT_NE(block2.data(), nullptr);
    mxArray *v2 = a.keep(th_wrap_uint8(3, dims, block2.data()));

    /* Every point maps to x = 2^31 + 256: the voxels there (and their +1
     * neighbours along each axis) are 77. */
    const size_t x = ((size_t)1 << 31) + 256;
    for (size_t dz = 0; dz < 2; ++dz)
        for (size_t dy = 0; dy < 2; ++dy)
            for (size_t dx = 0; dx < 2; ++dx)
                block2.data()[(x - 1 + dx) + d0 * (dy + 3 * dz)] = 77;
    Outcome o = call(1, {a.volume(10, 10, 10), v2, a.translation((double)x, 1.5, 1.5)});
    ASSERT_EQ(o.error, nullptr);
    EXPECT_EQ(o.hist[77], 512);
    EXPECT_EQ(total(o.hist), 512);

    /* Both volumes that long, walked in steps of 2^24: 128 points, all
     * inside, each sampling both volumes far beyond 2^31 bytes. */
    LazyBlock block1(d0 * 9);
    ASSERT_NE(block1.data(), nullptr);
    mxArray *v1 = a.keep(th_wrap_uint8(3, dims, block1.data()));
    Outcome far = call(1, {v1, v2, a.identity(), a.skips(16777216.0, 1, 1)});
    ASSERT_EQ(far.error, nullptr);
    EXPECT_EQ(far.hist[0], 128);
    EXPECT_EQ(total(far.hist), 128);
}

} // namespace
