// The AVX2 twins of the hottest conversion loops, each over a run of channels
// of one type, built with AVX2 enabled for their own file alone. Only the
// conversion table hands them out, and only once the CPU and the OS are known
// to run AVX2. Each gives the same bytes as its baseline twin for every input.
#ifndef MB_ASIO_ASIOCONV_AVX2_H
#define MB_ASIO_ASIOCONV_AVX2_H

#include <stddef.h>
#include <stdint.h>

#include "asio/asio_types.h"

void ASIOMAN_Avx2InInt16LSB(const ASIOBufferInfo* pInfos, int32_t nChannels, int32_t nHalf, int32_t* pBlock,
                            size_t nSamples);
void ASIOMAN_Avx2InInt32LSB(const ASIOBufferInfo* pInfos, int32_t nChannels, int32_t nHalf, int32_t* pBlock,
                            size_t nSamples);
void ASIOMAN_Avx2InFloat32LSB(const ASIOBufferInfo* pInfos, int32_t nChannels, int32_t nHalf, int32_t* pBlock,
                              size_t nSamples);
void ASIOMAN_Avx2InInt32LSB24(const ASIOBufferInfo* pInfos, int32_t nChannels, int32_t nHalf, int32_t* pBlock,
                              size_t nSamples);
void ASIOMAN_Avx2OutInt16LSB(const ASIOBufferInfo* pInfos, int32_t nChannels, int32_t nHalf, int32_t* pBlock,
                             size_t nSamples);
void ASIOMAN_Avx2OutInt32LSB(const ASIOBufferInfo* pInfos, int32_t nChannels, int32_t nHalf, int32_t* pBlock,
                             size_t nSamples);
void ASIOMAN_Avx2OutFloat32LSB(const ASIOBufferInfo* pInfos, int32_t nChannels, int32_t nHalf, int32_t* pBlock,
                               size_t nSamples);
void ASIOMAN_Avx2OutInt32LSB24(const ASIOBufferInfo* pInfos, int32_t nChannels, int32_t nHalf, int32_t* pBlock,
                               size_t nSamples);

#endif  // MB_ASIO_ASIOCONV_AVX2_H
