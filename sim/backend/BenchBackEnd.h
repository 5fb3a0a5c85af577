#pragma once
// The "sim" port back end: a port set whose home base is the simulated bench.
namespace tondrel::sim {

// Registers the back end under "sim"; call once before opening a port set (again is harmless).
void RegisterBenchBackEnd();

}  // namespace tondrel::sim
