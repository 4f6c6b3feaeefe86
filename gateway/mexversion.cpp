/* Version stamp of the Linux plug-in: the host asks which API it was
 * built for. Always the same text at the same address. */
extern "C" const char *mexVersion(void);

extern "C" const char *mexVersion(void)
{
    return "MATLAB R14 native";
}
