#pragma once
// What the fingerprint builder (TAudioDetector::BuildFromFile) tells its caller beyond the
// sequence itself: the error for a clip that cannot be recognised, and the fingerprint's
// strength.

#include "audio/AudioDetector.h"

#include <stdexcept>
#include <string>

// A clip whose fingerprint carries no presence peak in any slice: a silent clip, or one too
// quiet for the presence threshold. Such a sequence would be "found" anywhere, digital
// silence included, so the builder refuses it.
//
// The audio layer has no message table: what() is the message key "ClipNothingToRecognise",
// which the caller looks up (GetMessageText) for the operator; a key without a text shows as
// the key itself.
class EFingerprintError : public std::runtime_error {
public:
    explicit EFingerprintError(const std::string& MessageKey) : std::runtime_error(MessageKey) {}
    const char* MessageKey() const { return what(); }
};

// Share of a spectral sequence's slices that carry at least one presence peak. A clip with
// long quiet stretches gives weak fingerprints, which the sample dialog can warn about.
struct TFingerprintStrength {
    int32_t Slices = 0;
    int32_t SlicesWithPeaks = 0;
    // Truncated percent; 0 for a sequence without slices.
    int32_t Percent() const { return Slices > 0 ? static_cast<int32_t>(int64_t(SlicesWithPeaks) * 100 / Slices) : 0; }
};

TFingerprintStrength FingerprintStrength(const TAudioSequence& Sequence);
