#include "ice/CVoICE.h"

CVoICE::~CVoICE() = default;
CVoICE_Ostra1T::~CVoICE_Ostra1T() = default;

uint32_t CVoICE::GetCoreType() { return GetParam("ChipName") == "K310Q" ? 0x10F : 0x400; }
