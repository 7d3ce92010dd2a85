#pragma once
// The plug-in's whole outward face: four functions exported by name with C linkage. The
// program finds them with dlsym; these types are what it casts them to.

class CZel_Setup;

extern "C" {
using EditSetupFn = int (*)(CZel_Setup* setup);
using ComputeAllOptionsFn = void (*)(CZel_Setup* setup);
using GetScaleFactorFn = double (*)(CZel_Setup* setup, const char* unit, const char* name);
using GetScaleOffsetFn = double (*)(CZel_Setup* setup, const char* unit);
}

inline constexpr const char kEditSetupSymbol[] = "EditSetup";
inline constexpr const char kComputeAllOptionsSymbol[] = "ComputeAllOptions";
inline constexpr const char kGetScaleFactorSymbol[] = "GetScaleFactor";
inline constexpr const char kGetScaleOffsetSymbol[] = "GetScaleOffset";
