#include "logic/DriveParsingRules.h"

#include "logic/DecimalText.h"

namespace wizard {

VolumeListRequest volumeListRequest(const DriveParsingChoices& choices) {
  VolumeListRequest request;
  request.imagePath = choices.imagePath;
  request.mode = choices.standardScan ? ListingMode::Standard : ListingMode::Advanced;
  request.gpt = choices.gpt;
  request.doNotSkip = choices.doNotSkip;
  if (choices.customSetting) {
    const std::int64_t start = readDecimal(choices.startText);
    const std::int64_t end = readDecimal(choices.endText);
    if (end >= 0) {
      request.customStart = start;
      request.customEnd = end;
    }
  }
  return request;
}

}  // namespace wizard
