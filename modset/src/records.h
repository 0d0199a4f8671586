// The record operations behind the exports, in C++: they may throw
// std::bad_alloc, which the exports turn into CFG_E_MEMORY.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "modset.h"

namespace modset {

inline constexpr std::size_t kPopListingLimit = 3073;  // bytes of the POP key listing
inline constexpr std::size_t kSetupStringMax = sizeof(CfgModemInfo::SetupString) - 1;

// Gets leave `out` untouched unless they return CFG_OK or CFG_DEFAULTS.
int32_t get_dialing(CfgDialingInfo& out);
int32_t get_modem(CfgModemInfo& out);
int32_t get_zrs_access(CfgZrsAccessInfo& out);
int32_t get_nsv_config(CfgNsvConfigInfo& out);

// Puts replace their section in one step; on failure the file is unchanged.
int32_t put_dialing(const CfgDialingInfo& in);
int32_t put_modem(const CfgModemInfo& in);
int32_t put_zrs_access(const CfgZrsAccessInfo& in);
int32_t put_nsv_config(const CfgNsvConfigInfo& in);

// Makes `setup` carry the speaker and dial-tone choices (see modset.h);
// never makes it longer than kSetupStringMax.
void patch_setup_string(std::string& setup, bool speaker_off, bool dial_blind);
// The reverse: the speaker and dial-tone choices `setup` makes.
void parse_setup_string(std::string_view setup, int32_t& speaker_off, int32_t& dial_blind);

// Carries the settings of the old "ZRS Modem" section into the dialing,
// modem and Zrs access sections when none of them has been stored yet.
void migrate_old_section();
// Runs migrate_old_section() once per process (the first export call).
void migrate_once();

}  // namespace modset
