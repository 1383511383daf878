// Tabulon Pro's plug-in: a shared library (".tbx") exporting
// TBExternCallProc, loaded into the host's process and called on the main
// thread with the parameter block of TBExtern.h. The block lives here, from
// the start call (0) until the stop call (4).
//
// A plug-in is loaded once and stays loaded until the process ends: code of
// it may still be reached after it stopped (its static objects' ends, its
// threads' last words), so it is never unloaded.
#pragma once

#include <cstdint>
#include <string>

#include "Status.h"
#include "TBExtern.h"

namespace tbm::tabulonpro {

inline constexpr const char* kPluginFileName = "TBBridge.tbx";

// The result of a start call that went well.
inline constexpr std::int32_t kPluginStarted = 13;

class PluginHost {
 public:
  PluginHost() = default;
  // Stops a plug-in still running.
  ~PluginHost();
  PluginHost(const PluginHost&) = delete;
  PluginHost& operator=(const PluginHost&) = delete;

  // TBBridge.tbx beside the running program.
  static std::string PathBesideProgram();

  // Loads the plug-in at path and finds its entry point. kNotFound when
  // there is no such file; otherwise a status that says why it is not a
  // plug-in that can be loaded.
  Status Load(const std::string& path);
  bool loaded() const { return entry_ != nullptr; }
  // The plug-in's name: its file's name without ".tbx".
  const std::string& name() const { return name_; }

  // The start call (0) with the host's services; returns the plug-in's
  // result. started() is true after a result of kPluginStarted.
  std::int32_t Start(const TBHostServices* services);
  bool started() const { return started_; }
  // The start result in words: "started", or what went wrong.
  std::string StartResultInWords(std::int32_t result) const;

  // The information dialog (5) or the settings dialog (6) of the current
  // database. False when the plug-in is not running.
  bool ShowAbout() { return Call(TB_CALL_ABOUT); }
  bool ShowSettings() { return Call(TB_CALL_SETTINGS); }

  // The stop call (4), once, when the plug-in started.
  void Stop();

 private:
  bool Call(std::uint8_t code);

  TBExternCallProcFn entry_ = nullptr;
  std::string name_;
  TBParamBlock block_{};
  bool started_ = false;
  bool inCall_ = false;
};

}  // namespace tbm::tabulonpro
