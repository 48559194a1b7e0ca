// The PKCS#11 header of p11-kit, and the structure packing that PKCS#11
// prescribes for the platform (one byte on Windows, natural elsewhere), for
// the parameter records that the header lacks.
#pragma once

#include <p11-kit/pkcs11.h>

#ifdef _WIN32
#define PELLAMO_P11_PACK_BEGIN _Pragma("pack(push, 1)")
#define PELLAMO_P11_PACK_END _Pragma("pack(pop)")
#else
#define PELLAMO_P11_PACK_BEGIN
#define PELLAMO_P11_PACK_END
#endif
