/*
 * An empty run-time host library for the Linux tests. The Linux plug-in
 * lists libmex.so and libmat.so among its needed libraries as the host's own
 * plug-ins do; the test host in libmx.so provides the one function (the
 * error call) that it takes from them, so these only have to exist under
 * their names.
 */
typedef int vorn_empty_unit; /* an empty file is not valid C */
