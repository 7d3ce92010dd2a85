#pragma once
// The codes of the setup parameters that choose the drive's control structure. The setup holds
// them as numbers; every folder compares them through these names so that a code has one home.

namespace dcservo {

struct ControlMode {
  enum : int { Position = 0, Speed = 1, Current = 2 };
};

// In position mode: what the position controller drives.
struct PositionControlType {
  enum : int { OverCurrentLoop = 0, OverSpeedLoop = 1 };
};

struct SensorsConfiguration {
  enum : int {
    EncoderOnMotor = 0,
    TachoOnMotor = 1,          // no position sensor at all
    TachoAndEncoderOnLoad = 2,
  };
};

// Any code other than Rotary moves the load linearly.
struct TransmissionType {
  enum : int { Rotary = 0, Linear = 1 };
};

// Any other code is the 0 to 3.3 V input.
struct AnalogueInputsRange {
  enum : int { Unipolar5V = 5, Bipolar10V = 20 };
};

// The position controller's output is a speed reference rather than a current reference.
constexpr bool IsPositionOverSpeedLoop(int control_mode, int position_control_type) {
  return control_mode == ControlMode::Position &&
         position_control_type == PositionControlType::OverSpeedLoop;
}

// The speed controller is in the loop: speed mode, or position mode over the speed loop.
constexpr bool IsSpeedLoopClosed(int control_mode, int position_control_type) {
  return control_mode == ControlMode::Speed ||
         IsPositionOverSpeedLoop(control_mode, position_control_type);
}

constexpr bool IsRotaryTransmission(int transmission_type) {
  return transmission_type == TransmissionType::Rotary;
}

// A code as the setup holds it, a number not truncated: 1.5 is no code at all.
constexpr bool IsCode(double value, int code) { return value == code; }

}  // namespace dcservo
