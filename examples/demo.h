// What the two demo modules agree on.
#ifndef KQBRIDGE_EXAMPLES_DEMO_H_
#define KQBRIDGE_EXAMPLES_DEMO_H_

namespace demo {

// The shared-bus key the sensor publishes and the display listens to.
constexpr const char* kTemperatureKey = "demo.temperature";
// The channel the sensor creates and the display opens.
constexpr const char* kReadingsChannel = "demo.readings";
// The last message on the channel.
constexpr const char* kEndOfReadings = "end";
// The command of the sensor's greeting to the display.
constexpr int kCmdShow = 7;
// The command of the display's answer to a new temperature.
constexpr int kCmdThanks = 8;

}  // namespace demo

#endif  // KQBRIDGE_EXAMPLES_DEMO_H_
