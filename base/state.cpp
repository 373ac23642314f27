#include "base/state.h"

#include <cmath>
#include <string>

AppStateRecord AppState;

void ZeroAppState() { AppState = AppStateRecord{}; }

int HistorySize() {
  return AppState.History.History ? AppState.History.HistoryCount : 0;
}

const LevelRecord& RingEntry(const LevelRing& ring, int index) {
  return ring.Records[(ring.First + index) % ring.Capacity];
}

LevelRing HistoryRing() {
  return LevelRing{AppState.History.History, HistoryCapacity,
                   AppState.History.HistoryFirst, HistorySize()};
}

const LevelRecord& HistoryEntry(int index) {
  return AppState.History
      .History[(AppState.History.HistoryFirst + index) % HistoryCapacity];
}

void TakeExtremes(const LevelRecord& r) {
  if (!std::isfinite(r.Level5)) return;
  if (!AppState.History.HistoryHasExtremes ||
      r.Level5 < AppState.History.LowestLevel.Level5)
    AppState.History.LowestLevel = r;
  if (!AppState.History.HistoryHasExtremes ||
      r.Level5 > AppState.History.HighestLevel.Level5)
    AppState.History.HighestLevel = r;
  AppState.History.HistoryHasExtremes = true;
}

void KeepEvaluation(const LevelRecord& r) {
  TakeExtremes(r);
  AppState.History.EvaluationCount++;
  if (!AppState.History.History) return;
  if (AppState.History.HistoryCount < HistoryCapacity) {
    int slot = (AppState.History.HistoryFirst + AppState.History.HistoryCount) %
               HistoryCapacity;
    AppState.History.History[slot] = r;
    AppState.History.HistoryCount++;
    return;
  }
  AppState.History.History[AppState.History.HistoryFirst] = r;
  AppState.History.HistoryFirst =
      (AppState.History.HistoryFirst + 1) % HistoryCapacity;
}

void RestartHistory() {
  AppState.History.HistoryHasExtremes = false;
  AppState.History.HistoryCount = 0;
  AppState.History.HistoryFirst = 0;
}

void UncountEvaluation() { AppState.History.EvaluationCount--; }

void RenameHistoryTimes(int64_t step) {
  HistoryRecord& h = AppState.History;
  for (int i = 0; i < h.HistoryCount; i++) {
    LevelRecord& r = h.History[(h.HistoryFirst + i) % HistoryCapacity];
    r.Time += step;
    r.Universal += step;
  }
  if (h.HistoryHasExtremes) {
    h.LowestLevel.Time += step;
    h.LowestLevel.Universal += step;
    h.HighestLevel.Time += step;
    h.HighestLevel.Universal += step;
  }
}

void ForgetHistory() {
  AppState.History.History = nullptr;
  AppState.History.HistoryCount = 0;
}

static void TakeBuffer(ReplyBuffer* buffer, int size) {
  buffer->Bytes = PlatTakeZeroedMemory(size);
  buffer->Size = buffer->Bytes ? size : 0;
}

void InitDefaults() {
  AppStateRecord& s = AppState;

  TakeBuffer(&s.Settings.StatusBuffer, StatusBufferSize);
  TakeBuffer(&s.Settings.AdcBuffer, AdcBufferSize);
  TakeBuffer(&s.Settings.PortBuffer, PortBufferSize);
  TakeBuffer(&s.Settings.PingBuffer, PingBufferSize);
  TakeBuffer(&s.Settings.VersionBuffer, VersionBufferSize);
  TakeBuffer(&s.Settings.IpBuffer, IpBufferSize);
  TakeBuffer(&s.Settings.MaskBuffer, MaskBufferSize);
  TakeBuffer(&s.Settings.GatewayBuffer, GatewayBufferSize);
  TakeBuffer(&s.Settings.CommandBuffer, CommandBufferSize);
  TakeBuffer(&s.Settings.LcdReplyBuffer, LcdReplyBufferSize);
  s.History.History = (LevelRecord*)PlatTakeZeroedMemory(
      HistoryCapacity * (int)sizeof(LevelRecord));

  s.Sensor.Settings.Figures = DefaultSensorFigures();

  s.Settings.ColourRed = 0x000000FF;
  s.Settings.ColourBlue = 0x00FF0000;

  static const char* const outputNames[9] = {
      "",         "Device 1", "Device 2", "Messung ", "Minimum ",
      "Maximum ", "Device 6", "Device 7", "Device 8"};
  for (int n = 1; n <= 8; n++) s.Settings.OutputName[n] = outputNames[n];
  for (int n = 1; n <= 4; n++)
    s.Settings.AnalogName[n] = "Analog " + std::to_string(n);
  for (int n = 1; n <= 4; n++) s.Settings.AnalogScale[n] = 0.0048828;
  for (int n = 1; n <= 4; n++) s.Settings.AnalogUnit[n] = "Volt";
  for (int n = 1; n <= 4; n++)
    s.Settings.DigitalInputName[n] = "Digital " + std::to_string(n);

  for (int n = 1; n <= 4; n++) s.Settings.AnalogRoundFactor[n] = 1000;
  for (int n = 1; n <= 4; n++) s.Settings.AnalogTextWidth[n] = 4;

  // The switch delays start at their defaults (SwitchingRecord).
  for (int n = 1; n <= 8; n++) {
    s.Settings.DefaultSwitchDelay[n] = DefaultSwitchDelays[n];
    s.Settings.SwitchDelayText[n] = std::to_string(DefaultSwitchDelays[n]);
  }

  for (int n = 1; n <= 8; n++) s.Settings.MinSwitchDelay[n] = 1;
  for (int n = 1; n <= 8; n++) s.Settings.MaxSwitchDelay[n] = 10000;

  s.Settings.InitialRefreshInterval = RefreshRecord().RefreshInterval;

  s.Settings.SoundEnabled = true;
  s.Settings.LcdEnabled = false;
  s.Settings.SoundLoaded = false;

  s.Settings.BoardAddress = PlatBuildBoardAddress();
  s.Settings.BoardPort = PlatBuildBoardPort();
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
