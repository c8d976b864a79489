// The AVX2 twins of the hottest conversion loops, built with AVX2 enabled for
// their own file alone. Only the conversion table hands them out, and only
// once the CPU and the OS are known to run AVX2. Each gives the same bytes as
// its baseline twin for every input.
#ifndef MB_ASIO_ASIOCONV_AVX2_H
#define MB_ASIO_ASIOCONV_AVX2_H

#include <stddef.h>
#include <stdint.h>

void ASIOMAN_Avx2InInt16LSB(void* pDriver, int32_t* pBlock, size_t nSamples);
void ASIOMAN_Avx2InInt32LSB(void* pDriver, int32_t* pBlock, size_t nSamples);
void ASIOMAN_Avx2InFloat32LSB(void* pDriver, int32_t* pBlock, size_t nSamples);
void ASIOMAN_Avx2InInt32LSB24(void* pDriver, int32_t* pBlock, size_t nSamples);
void ASIOMAN_Avx2OutInt16LSB(void* pDriver, int32_t* pBlock, size_t nSamples);
void ASIOMAN_Avx2OutInt32LSB(void* pDriver, int32_t* pBlock, size_t nSamples);
void ASIOMAN_Avx2OutFloat32LSB(void* pDriver, int32_t* pBlock, size_t nSamples);
void ASIOMAN_Avx2OutInt32LSB24(void* pDriver, int32_t* pBlock, size_t nSamples);

#endif  // MB_ASIO_ASIOCONV_AVX2_H
