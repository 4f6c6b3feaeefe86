/*
 * Where the Mach-O test loader's runner meets Apple's calling convention.
 *
 * On arm64 Apple's convention differs from Linux's in one point that the
 * plug-in's calls reach: a function returning a bool, char or short widens
 * the result to 32 bits (zero-extended for bool and the unsigned types,
 * sign-extended for the signed ones, and char is signed there), and
 * Apple's callers rely on it: clang tests a bool result with `cmp w0, #0`
 * or uses w0 as the int it converts to. Linux's convention leaves the bits
 * above the value undefined. Each host function is therefore bound to
 * apple_entry<>::call, which calls the Linux function and returns its
 * result as Apple's caller expects it. Arguments need nothing: Apple's
 * callers widen narrow arguments, and Linux's callees read only the bits
 * of the value. On x86-64 the wrapper changes nothing that the bundle sees.
 */
#ifndef VORN_TESTS_APPLE_ABI_H
#define VORN_TESTS_APPLE_ABI_H

/* The type of the result as Apple's caller sees it, and the 32-bit type it
 * is widened to; other types pass as they are. */
template <typename T> struct apple_result {
    typedef T apple;
    typedef T wide;
};
template <> struct apple_result<bool> {
    typedef bool apple;
    typedef unsigned int wide;
};
template <> struct apple_result<char> {
    typedef signed char apple;
    typedef int wide;
};
template <> struct apple_result<signed char> {
    typedef signed char apple;
    typedef int wide;
};
template <> struct apple_result<unsigned char> {
    typedef unsigned char apple;
    typedef unsigned int wide;
};
template <> struct apple_result<short> {
    typedef short apple;
    typedef int wide;
};
template <> struct apple_result<unsigned short> {
    typedef unsigned short apple;
    typedef unsigned int wide;
};

template <typename F, F *f> struct apple_entry;

template <typename R, typename... A, R (*f)(A...)> struct apple_entry<R(A...), f> {
    typedef typename apple_result<R>::apple apple;
    typedef typename apple_result<R>::wide wide;
    static wide call(A... a)
    {
        return static_cast<wide>(static_cast<apple>(f(a...)));
    }
};

/* The address to bind for the function fn. */
#define APPLE_ENTRY(fn) ((void *)&apple_entry<decltype(fn), &fn>::call)

#endif
