/* Version stamp of the macOS plug-in: the host asks which release and which
 * API variant it was built for. The second number carries the 0730 of the
 * _730 array functions that the build binds. */
extern "C" void mexfilerequiredapiversion(unsigned int *built_by_release, unsigned int *target_api_version);

extern "C" void mexfilerequiredapiversion(unsigned int *built_by_release, unsigned int *target_api_version)
{
    *built_by_release = 0x0002017A;
    *target_api_version = 0x07300000;
}
