#pragma once

// The application object that the dialog framework needs inside the plug-in library. It
// does no start-up or shut-down work and holds no state: everything lives in the setup.
class CPardoApp {
 public:
  CPardoApp() = default;
  CPardoApp(const CPardoApp&) = delete;
  CPardoApp& operator=(const CPardoApp&) = delete;
};
