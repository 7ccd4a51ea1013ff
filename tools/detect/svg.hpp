#pragma once
// A trace drawn for a person tuning the detector: the three axes above, the detector's
// high-passed magnitude and threshold below, its taps as red lines, known taps as green marks.

#include "norvo/detect/tap_detector.hpp"
#include "norvo/detect/trace.hpp"

#include <string>
#include <vector>

namespace norvo::vtap_detect {

struct Drawing {
    std::string title;
    std::vector<detect::AccelSample> samples;
    std::vector<detect::Probe> probes;  // one per sample
    std::vector<detect::Tap> taps;
    std::vector<detect::TapLabel> known;
};

std::string render_svg(const Drawing& drawing);

}  // namespace norvo::vtap_detect
