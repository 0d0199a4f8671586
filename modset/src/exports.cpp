// The C exports: argument checks, the one-time migration, and the wall that
// keeps every exception inside the library.
#include <cstddef>
#include <new>

#include "modset.h"
#include "platform/loop/log.h"
#include "records.h"

namespace {

// A library writes nothing to its host's standard error: its lines go where
// VLR_LOG names, else nowhere.
__attribute__((constructor)) void modset_on_load() { platform::set_log_quiet(); }

// Runs `work` for an export: a null record is CFG_E_PARAM, out of memory is
// CFG_E_MEMORY, anything else thrown is `failure`.
template <class Record, class Work>
int32_t run_export(Record* record, int32_t failure, Work work) {
  if (record == nullptr) return CFG_E_PARAM;
  try {
    modset::migrate_once();
    return work(*record);
  } catch (const std::bad_alloc&) {
    return CFG_E_MEMORY;
  } catch (...) {
    try {
      platform::log_error("modset", "unexpected failure in a record operation");
    } catch (...) {
    }
    return failure;
  }
}

}  // namespace

extern "C" {

MODSET_API int32_t CfgGetDialingInfo(CfgDialingInfo* info) {
  return run_export(info, CFG_E_READ, [](CfgDialingInfo& r) { return modset::get_dialing(r); });
}

MODSET_API int32_t CfgPutDialingInfo(const CfgDialingInfo* info) {
  return run_export(info, CFG_E_WRITE, [](const CfgDialingInfo& r) { return modset::put_dialing(r); });
}

MODSET_API int32_t CfgGetModemInfo(CfgModemInfo* info) {
  return run_export(info, CFG_E_READ, [](CfgModemInfo& r) { return modset::get_modem(r); });
}

MODSET_API int32_t CfgPutModemInfo(const CfgModemInfo* info) {
  return run_export(info, CFG_E_WRITE, [](const CfgModemInfo& r) { return modset::put_modem(r); });
}

MODSET_API int32_t CfgGetZrsAccessInfo(CfgZrsAccessInfo* info) {
  return run_export(info, CFG_E_READ, [](CfgZrsAccessInfo& r) { return modset::get_zrs_access(r); });
}

MODSET_API int32_t CfgPutZrsAccessInfo(const CfgZrsAccessInfo* info) {
  return run_export(info, CFG_E_WRITE, [](const CfgZrsAccessInfo& r) { return modset::put_zrs_access(r); });
}

MODSET_API int32_t CfgGetNsvConfigInfo(CfgNsvConfigInfo* info) {
  return run_export(info, CFG_E_READ, [](CfgNsvConfigInfo& r) { return modset::get_nsv_config(r); });
}

MODSET_API int32_t CfgPutNsvConfigInfo(const CfgNsvConfigInfo* info) {
  return run_export(info, CFG_E_WRITE, [](const CfgNsvConfigInfo& r) { return modset::put_nsv_config(r); });
}

}  // extern "C"

// The records cross the C boundary: their layout is fixed.
static_assert(sizeof(CfgDialingInfo) == 40);
static_assert(offsetof(CfgDialingInfo, DialBlind) == 36);
static_assert(sizeof(CfgModemInfo) == 128);
static_assert(offsetof(CfgModemInfo, SetupString) == 64);
static_assert(sizeof(CfgZrsAccessInfo) == 244);
static_assert(offsetof(CfgZrsAccessInfo, Service) == 212);
static_assert(sizeof(CfgNsvPopEntry) == 46);
static_assert(offsetof(CfgNsvConfigInfo, CustomAccess) == 92);
static_assert(offsetof(CfgNsvConfigInfo, PopList) == (sizeof(void*) == 8 ? 136 : 132));
