#pragma once
// The loop model lifted to a loop's own sampling period: one linear map from the states before
// the period to the states after it, which the margins and the frequency responses read.

#include <Eigen/Dense>

#include <complex>
#include <memory>
#include <vector>

namespace dcservo {

// The model over one period of the cut loop, its controller's output cut off.
struct Lifted {
  Eigen::MatrixXd a;  // the state after one period, from the state before
  Eigen::VectorXd b;  // from what the cut loop gets
  Eigen::RowVectorXd c;  // what the cut loop's controller computes, from the state before
  double period_s = 0.0;
};

// Drops the states that nothing reaches and that reach nothing (the filters of an empty
// place, the controllers that the structure leaves idle): they only make the analysis slower.
Lifted WithoutUntouched(const Lifted& full);

// The open loop's response at many frequencies. A dense solve of (z - A) x = b at each one
// costs the cube of the states; the lifted matrix is brought to Hessenberg form once
// (A = Q H Q^T, orthogonal Q), after which each frequency is an elimination of one
// subdiagonal: the square of the states. A sweep asks for hundreds of frequencies, so the
// elimination runs on plain rows with the complex products written out: the same operations
// in the same order as the library's operators, without their check for a product that came
// out NaN (which finite states never give).
class OpenLoopSweep {
 public:
  explicit OpenLoopSweep(const Lifted& l);
  ~OpenLoopSweep();
  OpenLoopSweep(const OpenLoopSweep&) = delete;
  OpenLoopSweep& operator=(const OpenLoopSweep&) = delete;

  // The loop's gain at `omega` (rad/s): what the controller hands on for what it was fed.
  std::complex<double> At(double omega);
  // The gains at each of `omega`, each the same to the bit as At gives it alone. A few
  // frequencies are solved side by side: each elimination is a chain of dependent divisions,
  // and the others' work fills the time that one waits.
  std::vector<std::complex<double>> At(const std::vector<double>& omega);

 private:
  struct Work;
  std::unique_ptr<Work> work_;
};

}  // namespace dcservo
