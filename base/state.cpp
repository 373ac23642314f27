#include "base/state.h"

#include <cmath>
#include <string>

AppStateRecord AppState;

void ZeroAppState() {
  AppState = AppStateRecord{};
  AppState.BoardConnection = NoSocket;
  AppState.AddressCheckSocket = NoSocket;
}

int HistorySize() { return AppState.History ? AppState.HistoryCount : 0; }

const LevelRecord& RingEntry(const LevelRing& ring, int index) {
  return ring.Records[(ring.First + index) % ring.Capacity];
}

LevelRing HistoryRing() {
  return LevelRing{AppState.History, HistoryCapacity, AppState.HistoryFirst,
                   HistorySize()};
}

const LevelRecord& HistoryEntry(int index) {
  return AppState.History[(AppState.HistoryFirst + index) % HistoryCapacity];
}

void TakeExtremes(const LevelRecord& r) {
  if (!std::isfinite(r.Level5)) return;
  if (!AppState.HistoryHasExtremes || r.Level5 < AppState.LowestLevel.Level5)
    AppState.LowestLevel = r;
  if (!AppState.HistoryHasExtremes || r.Level5 > AppState.HighestLevel.Level5)
    AppState.HighestLevel = r;
  AppState.HistoryHasExtremes = true;
}

void KeepEvaluation(const LevelRecord& r) {
  TakeExtremes(r);
  AppState.EvaluationCount++;
  if (!AppState.History) return;
  if (AppState.HistoryCount < HistoryCapacity) {
    int slot =
        (AppState.HistoryFirst + AppState.HistoryCount) % HistoryCapacity;
    AppState.History[slot] = r;
    AppState.HistoryCount++;
    return;
  }
  AppState.History[AppState.HistoryFirst] = r;
  AppState.HistoryFirst = (AppState.HistoryFirst + 1) % HistoryCapacity;
}

static void TakeBuffer(ReplyBuffer* buffer, int size) {
  buffer->Bytes = PlatTakeZeroedMemory(size);
  buffer->Size = buffer->Bytes ? size : 0;
}

void InitDefaults() {
  AppStateRecord& s = AppState;

  s.FirmwareText = "V1.5";

  TakeBuffer(&s.StatusBuffer, StatusBufferSize);
  TakeBuffer(&s.AdcBuffer, AdcBufferSize);
  TakeBuffer(&s.PortBuffer, PortBufferSize);
  TakeBuffer(&s.PingBuffer, PingBufferSize);
  TakeBuffer(&s.VersionBuffer, VersionBufferSize);
  TakeBuffer(&s.IpBuffer, IpBufferSize);
  TakeBuffer(&s.MaskBuffer, MaskBufferSize);
  TakeBuffer(&s.GatewayBuffer, GatewayBufferSize);
  TakeBuffer(&s.CommandBuffer, CommandBufferSize);
  TakeBuffer(&s.LcdReplyBuffer, LcdReplyBufferSize);
  s.History = (LevelRecord*)PlatTakeZeroedMemory(HistoryCapacity *
                                                 (int)sizeof(LevelRecord));

  s.Sensor.Settings.Figures = DefaultSensorFigures();

  s.ColourRed = 0x000000FF;
  s.ColourBlue = 0x00FF0000;

  static const char* const outputNames[9] = {
      "",         "Device 1", "Device 2", "Messung ", "Minimum ",
      "Maximum ", "Device 6", "Device 7", "Device 8"};
  for (int n = 1; n <= 8; n++) s.OutputName[n] = outputNames[n];
  for (int n = 1; n <= 4; n++) s.AnalogName[n] = "Analog " + std::to_string(n);
  for (int n = 1; n <= 4; n++) s.AnalogScale[n] = 0.0048828;
  for (int n = 1; n <= 4; n++) s.AnalogUnit[n] = "Volt";
  for (int n = 1; n <= 4; n++)
    s.DigitalInputName[n] = "Digital " + std::to_string(n);

  for (int n = 1; n <= 8; n++) s.OutputState[n] = ContactUnknown;
  for (int n = 1; n <= 4; n++) s.AnalogRead[n] = false;
  for (int n = 1; n <= 4; n++) s.InputState[n] = ContactUnknown;

  for (int n = 1; n <= 4; n++) s.AnalogRoundFactor[n] = 1000;
  for (int n = 1; n <= 4; n++) s.AnalogTextWidth[n] = 4;

  static const int defaultDelays[9] = {0,   1000, 200, 100, 100,
                                       100, 100,  100, 100};
  for (int n = 1; n <= 8; n++) s.DefaultSwitchDelay[n] = defaultDelays[n];
  for (int n = 1; n <= 8; n++) {
    s.SwitchDelay[n] = s.DefaultSwitchDelay[n];
    s.SwitchDelayText[n] = std::to_string(s.SwitchDelay[n]);
  }

  for (int n = 1; n <= 8; n++) s.MinSwitchDelay[n] = 1;
  for (int n = 1; n <= 8; n++) s.MaxSwitchDelay[n] = 10000;

  s.RefreshInterval = 10000;
  s.InitialRefreshInterval = s.RefreshInterval;

  s.SoundEnabled = true;
  s.LcdEnabled = false;
  s.SoundLoaded = false;

  s.BoardAddress = PlatBuildBoardAddress();
  s.BoardPort = PlatBuildBoardPort();
}

SensorFigures DefaultSensorFigures() {
  SensorFigures f;
  f.TopVolts = 4.90;
  f.MarginPercent = 2.5;
  f.UnpoweredVolts = 0.10;
  f.NoResponseCounts = 2;
  f.SpreadVolts = 0.20;
  f.JumpVolts = 0.50;
  f.FlatCounts = 1;
  f.FlatHours = 24;
  f.FailSafeCycles = 2;
  f.GoodCycles = 2;
  return f;
}
