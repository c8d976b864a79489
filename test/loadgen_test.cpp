#include "test/loadgen.h"

#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "app/appcontext.h"
#include "test/pagefaults.h"
#include "test/testrun_fixture.h"

namespace {

// The banks take 1 GiB; they are built once for all the tests here.
class LoadBanksTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    bankContext = (APPCONTEXT*)calloc(1, sizeof(APPCONTEXT));
    ASSERT_EQ(0, LOADFILTER_BuildBank(bankContext, LOADGEN_CPU));
    ASSERT_EQ(0, LOADFILTER_BuildBank(bankContext, LOADGEN_FPU));
  }
  static void TearDownTestSuite() {
    LOADFILTER_FreeBanks(bankContext);
    free(bankContext);
    bankContext = nullptr;
  }
  void SetUp() override {
    context = bankContext;
    context->nCpuFilters = 0;
    context->nFpuFilters = 0;
    context->nSingleCopies = 0;
    context->nPatches = 0;
    context->nBusCopies = 0;
    context->nBufferSize = 480;
  }
  void TearDown() override { LOADGEN_FreeCopyBlocks(context); }

  static APPCONTEXT* bankContext;
  APPCONTEXT* context = nullptr;
};
APPCONTEXT* LoadBanksTest::bankContext = nullptr;

struct BANKROW {
  int i;
  float k;
  int32_t nCoef;
  int32_t nGain;
};

TEST_F(LoadBanksTest, CoefficientsOfTheTellingRows) {
  const BANKROW rows[] = {{0, 0.1123f, 3679, 29087},
                          {1, 0.117761f, 3858, 28908},
                          {64, 0.461804f, 15131, 17635},
                          {127, 0.805846f, 26405, 6361}};
  for (const BANKROW& row : rows) {
    SCOPED_TRACE(row.i);
    const LOADFILTER<int32_t>& cpu = context->cpuFilters[row.i];
    const LOADFILTER<float>& fpu = context->fpuFilters[row.i];
    ASSERT_NE(nullptr, cpu.pSourceStart);
    ASSERT_NE(nullptr, fpu.pSourceStart);
    EXPECT_EQ(row.nCoef, cpu.nCoef);
    EXPECT_EQ(row.nGain, cpu.nGain);
    EXPECT_NEAR(row.k, fpu.nCoef, 1e-6);
    EXPECT_NEAR(1.0f - row.k, fpu.nGain, 1e-6);
    EXPECT_EQ(cpu.pSourceStart + LOADFILTER_TABLE_SAMPLES, cpu.pSourceEnd);
    EXPECT_EQ(fpu.pTargetStart + LOADFILTER_TABLE_SAMPLES, fpu.pTargetEnd);
  }
}

// The source tables as defined, the sine of a single-precision position
// scaled in double precision, within what computing them from the exact
// position changes: half a step of the position's last place (2^-10 near
// 2^15) times the amplitude, 3.6 units for filter 0, or 1e-3 of the float
// amplitude.
TEST_F(LoadBanksTest, SourceTablesHoldTheDefinedSine) {
  const int rows[] = {0, 64, 127};
  const float a[] = {21.123f, 661.123f, 1291.123f};
  for (int r = 0; r < 3; r++) {
    const LOADFILTER<int32_t>& cpu = context->cpuFilters[rows[r]];
    const LOADFILTER<float>& fpu = context->fpuFilters[rows[r]];
    double k = (double)fpu.nCoef;
    for (int32_t j = 0; j < LOADFILTER_TABLE_SAMPLES; j += 97) {
      double s = sin((double)((float)j / a[r]));
      ASSERT_NEAR((int32_t)(s * k * 32767.0), cpu.pSourceStart[j], 4) << rows[r] << " " << j;
      ASSERT_NEAR((float)(s * k), fpu.pSourceStart[j], 1e-3 * k) << rows[r] << " " << j;
    }
  }
}

TEST(LoadFilterSine, AgreesWithTheLibraryOverTheTablesRange) {
  for (double x = 0.0; x < 30000.0; x += 0.0785) {
    double sine, cosine;
    LOADGEN_SineCosineOfPosition(x, &sine, &cosine);
    ASSERT_NEAR(sin(x), sine, 2e-15) << x;
    ASSERT_NEAR(cos(x), cosine, 2e-15) << x;
  }
}

TEST_F(LoadBanksTest, BanksEqualFiltersBuiltOneByOne) {
  LOADFILTER<int32_t> cpu{};
  LOADFILTER<float> fpu{};
  float a = 21.123f + 10.0f, k = 0.1123f + 0.005461f;
  ASSERT_EQ(0, LOADFILTER_InitInt(&cpu, a, k));
  ASSERT_EQ(0, LOADFILTER_InitFloat(&fpu, a, k));
  EXPECT_EQ(0, memcmp(cpu.pSourceStart, context->cpuFilters[1].pSourceStart, 4 * LOADFILTER_TABLE_SAMPLES));
  EXPECT_EQ(0, memcmp(fpu.pSourceStart, context->fpuFilters[1].pSourceStart, 4 * LOADFILTER_TABLE_SAMPLES));
  EXPECT_EQ(cpu.pSourceStart, cpu.pRead);
  EXPECT_EQ(cpu.pTargetStart, cpu.pWrite);
  EXPECT_EQ(0, cpu.pTargetStart[12345]);
  EXPECT_EQ(0.0f, fpu.pTargetStart[LOADFILTER_TABLE_SAMPLES - 1]);
  LOADFILTER_FreeInt(&cpu);
  LOADFILTER_FreeFloat(&fpu);
  EXPECT_EQ(nullptr, cpu.pRead);
}

TEST_F(LoadBanksTest, OneUnitAdvancesEveryFilterByOneBufferAndWraps) {
  std::vector<ptrdiff_t> before(APP_LOADFILTERS);
  for (int i = 0; i < APP_LOADFILTERS; i++) before[i] = context->cpuFilters[i].pRead - context->cpuFilters[i].pSourceStart;
  context->nCpuFilters = 1;
  RunLoadGenerators(context);
  for (int i = 0; i < APP_LOADFILTERS; i++) {
    const LOADFILTER<int32_t>& f = context->cpuFilters[i];
    EXPECT_EQ((before[i] + 480) % LOADFILTER_TABLE_SAMPLES, f.pRead - f.pSourceStart);
    EXPECT_EQ(f.pRead - f.pSourceStart, f.pWrite - f.pTargetStart);
  }
  // Float filters did not move; two units move them two buffers.
  ptrdiff_t floatBefore = context->fpuFilters[5].pRead - context->fpuFilters[5].pSourceStart;
  context->nCpuFilters = 0;
  context->nFpuFilters = 2;
  RunLoadGenerators(context);
  EXPECT_EQ((floatBefore + 960) % LOADFILTER_TABLE_SAMPLES, context->fpuFilters[5].pRead - context->fpuFilters[5].pSourceStart);

  // A buffer that crosses the end of the tables wraps to their start.
  LOADFILTER<int32_t>& f = context->cpuFilters[0];
  f.pRead = f.pSourceEnd - 100;
  f.pWrite = f.pTargetEnd - 100;
  LOADFILTER_ProcessInt(&f, 480);
  EXPECT_EQ(f.pSourceStart + 380, f.pRead);
  EXPECT_EQ(f.pTargetStart + 380, f.pWrite);
  for (int b = 0; b < LOADFILTER_TABLE_SAMPLES / 512; b++) LOADFILTER_ProcessInt(&f, 512);
  EXPECT_EQ(f.pSourceStart + 380, f.pRead);
}

TEST_F(LoadBanksTest, CopyLoadsWriteTheirPatternsAndAreSkippedWithoutBlocks) {
  const int32_t n = 16;
  context->nBufferSize = n;
  LOADGEN_AllocCopyBlocks(context, n);
  ASSERT_NE(nullptr, context->pCopySource);
  ASSERT_NE(nullptr, context->pCopyTarget);
  for (int32_t i = 0; i < n * LOADGEN_COPY_BUFFERS; i++) context->pCopySource[i] = i + 1;

  context->nSingleCopies = 1;
  RunLoadGenerators(context);
  EXPECT_EQ(0, memcmp(context->pCopyTarget, context->pCopySource, n * 4));
  EXPECT_EQ(0, context->pCopyTarget[n]);

  context->nSingleCopies = 0;
  context->nPatches = 1;
  RunLoadGenerators(context);
  for (int b = 0; b < LOADGEN_COPY_BUFFERS; b++)
    ASSERT_EQ(0, memcmp(context->pCopyTarget + b * n, context->pCopySource, n * 4)) << b;

  context->nPatches = 0;
  context->nBusCopies = 1;
  RunLoadGenerators(context);
  EXPECT_EQ(0, memcmp(context->pCopyTarget, context->pCopySource, (size_t)n * 4 * LOADGEN_COPY_BUFFERS));

  // Without blocks the copies are skipped but the filters still run.
  LOADGEN_FreeCopyBlocks(context);
  context->nSingleCopies = 32;
  context->nPatches = 32;
  context->nBusCopies = 32;
  context->nCpuFilters = 1;
  const int32_t* before = context->cpuFilters[3].pRead;
  RunLoadGenerators(context);
  EXPECT_EQ(n, context->cpuFilters[3].pRead - before);
}

// Every table and copy block is resident before the first buffer: a pass of
// every load at its largest through the whole tables takes no page fault.
TEST_F(LoadBanksTest, APassOfEveryLoadAtItsLargestTakesNoPageFault) {
  // The count moves when a fresh page is touched, or it cannot show anything.
  const size_t freshBytes = 4 << 20;
  volatile char* fresh = (volatile char*)malloc(freshBytes);
  ASSERT_NE(nullptr, fresh);
  long before = PAGEFAULTS_OfThread();
  for (size_t b = 0; b < freshBytes; b += 4096) fresh[b] = 1;
  long touched = PAGEFAULTS_OfThread() - before;
  free((void*)fresh);
  if (before < 0 || touched <= 0) GTEST_SKIP() << "no page-fault count that moves on this system";

  const int32_t n = 512;
  context->nBufferSize = n;
  LOADGEN_AllocCopyBlocks(context, n);
  ASSERT_NE(nullptr, context->pCopyTarget);
  context->nCpuFilters = 32;
  context->nFpuFilters = 32;
  context->nSingleCopies = 32;
  context->nPatches = 32;
  context->nBusCopies = 32;
  const int buffers = LOADFILTER_TABLE_SAMPLES / (32 * n);
  before = PAGEFAULTS_OfThread();
  for (int b = 0; b < buffers; b++) RunLoadGenerators(context);
  EXPECT_EQ(0, PAGEFAULTS_OfThread() - before);
}

class LoadChoiceTest : public TestRunFixture {
 protected:
  void TearDown() override {
    g_pfnLoadTableAlloc = malloc;
    LOADFILTER_FreeBanks(context);
    TestRunFixture::TearDown();
  }
};

TEST_F(LoadChoiceTest, TheFirstAmountBuildsTheBankOnceBeforeItIsStored) {
  EXPECT_EQ(0, LOADGEN_ChooseFilters(context, LOADGEN_FPU, 0));
  EXPECT_FALSE(LOADFILTER_HasBank(context, LOADGEN_FPU));
  EXPECT_EQ(0, LOADGEN_ChooseFilters(context, LOADGEN_FPU, 2));
  EXPECT_EQ(0, LOADGEN_ChooseFilters(context, LOADGEN_FPU, 32));
  EXPECT_EQ(32, context->nFpuFilters);
  EXPECT_EQ(std::vector<std::string>{"DSP LOAD: building the FPU filters (512 MiB)"}, LogLines());
  EXPECT_FALSE(LOADFILTER_HasBank(context, LOADGEN_CPU));
  for (const LOADFILTER<float>& f : context->fpuFilters) ASSERT_NE(nullptr, f.pTargetStart);
}

int g_tablesLeft;
void* TablesThatRunOut(size_t bytes) { return g_tablesLeft-- > 0 ? malloc(bytes) : nullptr; }

// The target of the 51st filter fails; LeakSanitizer shows the other 101
// tables freed.
TEST_F(LoadChoiceTest, ABankWithoutMemoryLeavesNothingAndTheAmountWhereItWas) {
  g_tablesLeft = 101;
  g_pfnLoadTableAlloc = TablesThatRunOut;
  EXPECT_EQ(-1, LOADGEN_ChooseFilters(context, LOADGEN_CPU, 4));
  EXPECT_EQ(0, context->nCpuFilters);
  const std::vector<std::string> lines = {"DSP LOAD: building the CPU filters (512 MiB)",
                                          "DSP LOAD: not enough memory for the CPU filters (512 MiB)"};
  EXPECT_EQ(lines, LogLines());
  const LOADFILTER<int32_t> empty{};
  for (const LOADFILTER<int32_t>& f : context->cpuFilters) ASSERT_EQ(0, memcmp(&empty, &f, sizeof f));
}

// Reference steps in 64-bit arithmetic, truncated to 32 bits.
int32_t Low32(int64_t v) { return (int32_t)(uint32_t)(uint64_t)v; }

TEST(LoadFilterArithmetic, IntegerProductsWrapLikeTruncated64BitProducts) {
  LOADFILTER<int32_t> f{};
  ASSERT_EQ(0, LOADFILTER_InitInt(&f, 21.123f, 0.805846f));
  f.pSourceStart[0] = 2000000000;  // drives the state far past the products' range
  f.pSourceStart[1] = -2000000000;
  f.nState = 0x7fff0000;
  int32_t s = f.nState;
  std::vector<int32_t> expected;
  for (int j = 0; j < 64; j++) {
    s = Low32((int64_t)(Low32((int64_t)s * f.nCoef) >> 15) + f.pSourceStart[j]);
    expected.push_back(Low32((int64_t)s * f.nGain) >> 15);
  }
  LOADFILTER_ProcessInt(&f, 64);
  EXPECT_EQ(s, f.nState);
  EXPECT_EQ(0, memcmp(expected.data(), f.pTargetStart, 64 * 4));
  LOADFILTER_FreeInt(&f);
}

TEST(LoadFilterArithmetic, FloatFilterIsTheFirstOrderRecursion) {
  LOADFILTER<float> f{};
  ASSERT_EQ(0, LOADFILTER_InitFloat(&f, 31.123f, 0.25f));
  float s = 0.0f;
  LOADFILTER_ProcessFloat(&f, 100);
  for (int j = 0; j < 100; j++) {
    s = s * 0.25f + f.pSourceStart[j];
    ASSERT_EQ(s * 0.75f, f.pTargetStart[j]) << j;
  }
  EXPECT_EQ(s, f.nState);
  LOADFILTER_FreeFloat(&f);
}

TEST(LoadFilterArithmetic, FilterWithoutTablesTouchesNothing) {
  APPCONTEXT* context = (APPCONTEXT*)calloc(1, sizeof(APPCONTEXT));
  context->nBufferSize = 256;
  context->nCpuFilters = 32;
  context->nFpuFilters = 32;
  context->nBusCopies = 1;
  RunLoadGenerators(context);
  EXPECT_EQ(nullptr, context->cpuFilters[0].pRead);
  EXPECT_EQ(0, context->cpuFilters[0].nState);
  free(context);
}

}  // namespace
