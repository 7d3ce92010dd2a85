#include "sim/chip_settings.h"

#include <algorithm>
#include <cstdio>

namespace dcsim {

void ChipMemory::Write(std::string_view name, double value) {
  auto it = values_.find(name);
  if (it == values_.end()) values_.emplace(std::string(name), value);
  else it->second = value;
}

double ChipMemory::Read(std::string_view name, double fallback) const {
  auto it = values_.find(name);
  return it == values_.end() ? fallback : it->second;
}

namespace {

int Divider(double value) { return static_cast<int>(std::clamp<i64>(ChipInt(value), 1, 65535)); }

// The biquad slots that a place uses, counted from where the place before it stops; the
// three places share three slots.
void CountPlaces(ChipSettings& s, i64 spdref, i64 iqref, i64 aspd) {
  int left = 3;
  auto take = [&left](i64 wanted) {
    const int n = static_cast<int>(std::clamp<i64>(wanted, 0, left));
    left -= n;
    return n;
  };
  s.spdref_biquads = take(spdref);
  s.iqref_biquads = take(iqref);
  s.aspd_biquads = take(aspd);
}

}  // namespace

ChipSettings ChipMemory::Compile() const {
  ChipSettings s;
  auto r = [this](const char* name, double fallback) { return Read(name, fallback); };
  auto gain = [&r](const char* mantissa, const char* shift) {
    return QGain::FromChip(r(mantissa, 0), r(shift, 0));
  };

  s.pwmper = Divider(r("PWMPER", 1000));
  s.clper = Divider(r("CLPER", 1));
  s.slper = Divider(r("SLPER", 10));
  s.loops_in_fast_loop = (static_cast<unsigned>(ChipInt(r("UPGRADE", 0))) &
                          kUpgradeLoopsInFastLoop) != 0;

  s.kpi = gain("KPI", "SFTKPI");
  s.kii = gain("KII", "SFTKII");
  s.sat_iq = LimitFromChip(r("SATIQ", 0));
  s.sat_pwm = LimitFromChip(r("SATPWM", 0));
  s.filter_q = FirstOrder::FromChip(r("FILTERQ", 32767));
  s.load_feedforward =
      ChipInt(r("FFL", 0)) * ChipInt(r("KFFL", 32767)) / 32767;

  s.kps = gain("KPS", "SFTKPS");
  s.kis = gain("KIS", "SFTKIS");
  s.sat_s = LimitFromChip(r("SATS", 0));
  s.imax_s = LimitFromChip(r("IMAXS", 0));

  s.kpp = gain("KPP", "SFTKPP");
  s.kip = gain("KIP", "SFTKIP");
  s.kdp = gain("KDP", "SFTKDP");
  s.derivative_filter = FirstOrder::FromChip(r("KDFP", 32767));
  s.sat_p = LimitFromChip(r("SATP", 0));
  s.imax_p = LimitFromChip(r("IMAXP", 0));

  s.kffs = gain("KFFS", "SFTSFFW");
  // The acceleration feedforward's shift is split over two registers.
  s.kffa = QGain::FromChip(
      r("KFFA", 0), static_cast<double>(ChipInt(r("SFTAFFW", 0)) + ChipInt(r("SFTKFF", 0))));

  s.acr = static_cast<unsigned>(ChipInt(r("ACR", kAcrCurrentLoop)));
  const unsigned scr = static_cast<unsigned>(ChipInt(r("SCR", 0))) & kScrSensorMask;
  s.sensors = scr == kScrTachoOnly             ? Sensors::Tacho
              : scr == kScrTachoAndLoadEncoder ? Sensors::TachoAndLoadEncoder
                                               : Sensors::MotorEncoder;
  s.tacho_per_encoder = std::max<i64>(1, ChipInt(r("TRANSMISION", 1)));
  s.reverse_counting = ChipInt(r("COUNTINGDIR", 0)) == 1;

  s.errmax = ChipInt(r("ERRMAX", 0));
  s.terrmax = ChipInt(r("TERRMAX", kProtectionOff));
  s.serrmax = ChipInt(r("SERRMAX", 0));
  s.tserrmax = ChipInt(r("TSERRMAX", kProtectionOff));

  char name[16];
  for (int slot = 0; slot < 3; ++slot) {
    auto coefficient = [&](const char* which) {
      std::snprintf(name, sizeof name, "BQ%d%s", slot + 1, which);
      return ChipInt(r(name, 0));
    };
    BiquadSlot& b = s.biquads[slot];
    b.b0 = coefficient("B0");
    b.b1 = coefficient("B1");
    b.b2 = coefficient("B2");
    b.a1 = coefficient("A1");
    b.a2 = coefficient("A2");
    b.sf = coefficient("SF");
  }
  CountPlaces(s, ChipInt(r("SPDREF_BQ_INI", 0)), ChipInt(r("IQREF_BQ_INI", 0)),
              ChipInt(r("ASPD_BQ_INI", 0)));
  return s;
}

}  // namespace dcsim
