// A library for the loader tests; built twice, beside the test and on the library path.
extern "C" __attribute__((visibility("default"))) int testModuleValue()
{
    return TEST_MODULE_VALUE;
}
