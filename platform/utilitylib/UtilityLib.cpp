#include "UtilityLib.h"

std::string GetProductVersion()
{
    return TARN_PRODUCT_VERSION;
}
