#pragma once
// Staged rollouts: which machines take a manifest that says Rollout=P. Each machine has a
// MachineId of its own (random, made once per prefix, sent nowhere), and from it and the product
// a fixed bucket 0..99; machines whose bucket is below P take the manifest.

#include <string>
#include <string_view>

namespace tandor {

class Prefix;

// The machine's MachineId= (32 lower-case hex digits: 128 random bits) from registry.ini; made
// and stored there when it is missing or is no such text.
std::string MachineId(const Prefix& machine);

// The machine's bucket for `product`: SHA-256 of the product in lower case, a 0 byte and the
// MachineId in lower case; its first 8 bytes as a big-endian number, modulo 100. A machine keeps
// its bucket for a product, so raising a rollout keeps every machine it had.
int RolloutBucket(std::string_view product, std::string_view machineId);

// Whether a Fallback= value names a file in the manifest's own server folder: not empty, no
// folder separator, no "..".
bool IsPlainFileName(std::string_view name);

}  // namespace tandor
