#include "sim/chip_settings.h"

#include <algorithm>
#include <cstdio>

#include "names/drive_names.h"

namespace param = dcservo::param;

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

  s.pwmper = Divider(r(param::PWMPER, 1000));
  s.clper = Divider(r(param::CLPER, 1));
  s.slper = Divider(r(param::SLPER, 10));
  s.loops_in_fast_loop =
      (static_cast<unsigned>(ChipInt(r(param::UPGRADE, 0))) & kUpgradeLoopsInFastLoop) != 0;

  s.kpi = gain(param::KPI, param::SFTKPI);
  s.kii = gain(param::KII, param::SFTKII);
  s.sat_iq = LimitFromChip(r(param::SATIQ, 0));
  s.sat_pwm = LimitFromChip(r(param::SATPWM, 0));
  s.filter_q = FirstOrder::FromChip(r(param::FILTERQ, 32767));
  s.load_feedforward = ChipInt(r(param::FFL, 0)) * ChipInt(r(param::KFFL, 32767)) / 32767;

  s.kps = gain(param::KPS, param::SFTKPS);
  s.kis = gain(param::KIS, param::SFTKIS);
  s.sat_s = LimitFromChip(r(param::SATS, 0));
  s.imax_s = LimitFromChip(r(param::IMAXS, 0));

  s.kpp = gain(param::KPP, param::SFTKPP);
  s.kip = gain(param::KIP, param::SFTKIP);
  s.kdp = gain(param::KDP, param::SFTKDP);
  s.derivative_filter = FirstOrder::FromChip(r(param::KDFP, 32767));
  s.sat_p = LimitFromChip(r(param::SATP, 0));
  s.imax_p = LimitFromChip(r(param::IMAXP, 0));

  s.kffs = gain(param::KFFS, param::SFTSFFW);
  // The acceleration feedforward's shift is split over two registers.
  s.kffa = QGain::FromChip(r(param::KFFA, 0), static_cast<double>(ChipInt(r(param::SFTAFFW, 0)) +
                                                                  ChipInt(r(param::SFTKFF, 0))));

  s.acr = static_cast<unsigned>(ChipInt(r(param::ACR, kAcrCurrentLoop)));
  const unsigned scr = static_cast<unsigned>(ChipInt(r(param::SCR, 0))) & kScrSensorMask;
  s.sensors = scr == kScrTachoOnly             ? Sensors::Tacho
              : scr == kScrTachoAndLoadEncoder ? Sensors::TachoAndLoadEncoder
                                               : Sensors::MotorEncoder;
  s.tacho_per_encoder = std::max<i64>(1, ChipInt(r(param::TRANSMISION, 1)));
  s.reverse_counting = ChipInt(r(param::COUNTINGDIR, 0)) == 1;

  s.errmax = ChipInt(r(param::ERRMAX, 0));
  s.terrmax = ChipInt(r(param::TERRMAX, kProtectionOff));
  s.serrmax = ChipInt(r(param::SERRMAX, 0));
  s.tserrmax = ChipInt(r(param::TSERRMAX, kProtectionOff));

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
  CountPlaces(s, ChipInt(r(param::SPDREF_BQ_INI, 0)), ChipInt(r(param::IQREF_BQ_INI, 0)),
              ChipInt(r(param::ASPD_BQ_INI, 0)));
  return s;
}

}  // namespace dcsim
