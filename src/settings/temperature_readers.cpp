#include <cmath>
#include <cstdint>

#include "core/control_ids.h"
#include "settings/validation.h"

double FahrenheitToRoundedCelsius(double fahrenheit) {
  const double c = (fahrenheit - 32.0) / 1.8;
  const double sign = c > 0 ? 1.0 : -1.0;
  // Thousandths of a degree, rounded to the logger's 0.05 degC step.
  const auto k = static_cast<int64_t>(std::fabs(c) * 1000.0);
  const int64_t q = k / 100;
  const int64_t r = k - 100 * q;
  const int64_t step = r <= 24 ? 0 : (r <= 75 ? 50 : 100);
  const double rounded = static_cast<double>(100 * q + step);
  return (rounded / 1000.0 + 0.00001) * sign;
}

namespace {

bool ReadTemperatureAlarm(ToolState& state, int id, Label label, double& celsius,
                          double& fahrenheit) {
  const double lowC = state.device.sensorTempMin / 10.0;
  const double highC = state.device.sensorTempMax / 10.0;
  double v = 0;
  if (state.form().selection(ctl::TempUnit) == 0) {
    if (ReadRealField(state, id, label, lowC, highC, v) != 0) return false;
    celsius = v;
    fahrenheit = v * 1.8 + 32;
    return true;
  }
  if (ReadRealField(state, id, label, lowC * 1.8 + 32, highC * 1.8 + 32, v) != 0) return false;
  fahrenheit = v;
  celsius = FahrenheitToRoundedCelsius(v);
  return true;
}

}  // namespace

bool ReadTemperatureAlarmLow(ToolState& state, Label label) {
  return ReadTemperatureAlarm(state, ctl::LowTempAlarm, label, state.settings.tempAlarmLowC,
                              state.settings.tempAlarmLowF);
}

bool ReadTemperatureAlarmHigh(ToolState& state, Label label) {
  return ReadTemperatureAlarm(state, ctl::HighTempAlarm, label, state.settings.tempAlarmHighC,
                              state.settings.tempAlarmHighF);
}
