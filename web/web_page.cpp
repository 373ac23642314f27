#include "web/web_page.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "base/clock_text.h"
#include "base/level_csv.h"
#include "base/operator_numbers.h"
#include "base/state_words.h"
#include "base/utf8_text.h"

namespace {

// Text for HTML and SVG: the five marks that mean something there as
// entities, control characters as blanks.
Text Escaped(const Text& text) {
  Text out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += (unsigned char)c < 0x20 ? ' ' : c;
    }
  }
  return out;
}

// Text as a JSON string, quotes included (still Windows-1252 here).
Text Quoted(const Text& text) {
  Text out = "\"";
  for (char c : text) {
    unsigned char u = (unsigned char)c;
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char code[8];
      snprintf(code, sizeof code, "\\u%04x", u);
      out += code;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

Text Number(double v) {
  if (!std::isfinite(v)) return "null";
  char text[32];
  snprintf(text, sizeof text, "%.6g", v);
  return text;
}

Text Bool(bool b) { return b ? "true" : "false"; }

// The colour rule of every display: red for on, closed, released; blue
// for off, open, locked.
const char OnClass[] = "ein";
const char OffClass[] = "aus";

Text Span(const Text& cls, const Text& text) {
  return "<span class=\"" + cls + "\">" + Escaped(text) + "</span>";
}

Text ContactSpan(Contact c) {
  return Span(c == ContactClosed ? OnClass : OffClass, ContactWord(c));
}

Text FunctionSpan(bool released) {
  return Span(released ? OnClass : OffClass,
              released ? "freigegeben" : "gesperrt");
}

// Before the first snapshot the program has had no reply from the board
// yet: there is nothing to date.
const char WaitingText[] = "Warte auf die erste Antwort des Boards";

Text ConnectionText(const WebSnapshot& s) {
  if (!s.Taken) return WaitingText;
  return (s.Connected ? "Verbindung seit " : "Keine Verbindung seit ") +
         DateTimeText(s.ConnectionSince);
}

// The level bar's scale: 0 V to this, so both thresholds stand on it.
const double BarTop = 1.4;

Text Percent(double volts) {
  double share = volts / BarTop * 100;
  if (!(share > 0)) share = 0;
  if (share > 100) share = 100;
  char text[16];
  snprintf(text, sizeof text, "%.1f%%", share);
  return text;
}

const char Style[] =
    "body{font-family:sans-serif;margin:0 auto;max-width:40em;padding:.5em;"
    "font-size:17px;line-height:1.35;color:#000;background:#fff}"
    "h1{font-size:1.25em;margin:.2em 0}h2{font-size:1.05em;margin:.9em 0 .3em}"
    ".stand{font-size:2.4em;font-weight:bold;color:#00f}"
    ".ein{color:#f00;font-weight:bold}.aus{color:#00f}"
    ".alt{background:#ffd24d;color:#000;font-weight:bold;padding:0 .3em}"
    ".warn{background:#ffd24d;padding:.2em .4em}"
    ".ok{color:#060}"
    ".balken{position:relative;height:1.6em;border:1px solid #000;"
    "background:#eee;margin:.3em 0 1.6em}"
    ".fuell{position:absolute;left:0;top:0;bottom:0;background:#00f}"
    ".marke{position:absolute;top:-.3em;bottom:-.3em;border-left:2px dashed}"
    ".marke span{position:absolute;top:2em;white-space:nowrap;"
    "font-size:.75em}"
    ".min{border-color:#c00000;color:#c00000}"
    ".max{border-color:#0000c0;color:#0000c0}"
    ".max span{right:0}"
    "table{border-collapse:collapse;width:100%}"
    "td{padding:.15em .3em;border-bottom:1px solid #ddd;vertical-align:top}"
    "ul{padding-left:1.2em;margin:.2em 0}"
    "img{width:100%;height:auto;border:1px solid #ccc}"
    ".klein{font-size:.8em;color:#444}";

Text OldMark(bool old) { return old ? " <span class=\"alt\">ALT</span>" : ""; }

Text TokenQuery(const Text& token) {
  return token.empty() ? "" : "?token=" + token;
}

// Colour of the picture as #RRGGBB, from 0x00BBGGRR.
Text Colour(uint32_t c) {
  char text[8];
  snprintf(text, sizeof text, "#%02X%02X%02X", c & 0xFF, (c >> 8) & 0xFF,
           (c >> 16) & 0xFF);
  return text;
}

}  // namespace

int WebOldAfterMs(const WebSnapshot& s) {
  int interval = s.RefreshInterval > WebRefreshSeconds * 1000
                     ? s.RefreshInterval
                     : WebRefreshSeconds * 1000;
  return 2 * interval;
}

int64_t WebQueryAgeMs(const WebSnapshot& s, const WebClock& now) {
  if (!s.Queried) return -1;
  return (uint32_t)(now.Tick - s.QueryTick);
}

int64_t WebEvaluationAgeMs(const WebSnapshot& s, const WebClock& now) {
  if (!s.Evaluated) return -1;
  int64_t seconds = now.Universal - s.LastEvaluation.Universal;
  return seconds < 0 ? 0 : seconds * 1000;
}

Text WebPageHtml(const WebSnapshot& s, const WebClock& now, const Text& token) {
  Text query = TokenQuery(token);
  int64_t queryAge = WebQueryAgeMs(s, now);
  bool old = queryAge < 0 || queryAge > WebOldAfterMs(s);
  Text h =
      "<!DOCTYPE html>\n<html lang=\"de\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
      "<meta http-equiv=\"refresh\" content=\"" +
      std::to_string(WebRefreshSeconds) + ";url=/" + query +
      "\"><title>Brunnen: " + Escaped(s.LevelText) + " V</title><style>" +
      Style + "</style></head><body>\n";
  h += "<h1>Brunnen (KORVALINEX)</h1>\n";
  if (!s.Taken) {
    h += "<p class=\"warn\">Noch keine Daten vom Board.</p>\n";
  }

  // The level, as the main window shows it, with its bar and thresholds.
  h += "<h2>Wasserstand</h2>\n<div><span class=\"stand\" id=\"stand\">" +
       Escaped(s.LevelText) + " V</span>" + OldMark(old) + "</div>\n";
  h += "<div class=\"balken\" role=\"img\" aria-label=\"Wasserstand " +
       Escaped(s.LevelText) + " V\"><div class=\"fuell\" style=\"width:" +
       (s.LevelRead ? Percent(s.LevelVolts) : Text("0%")) +
       "\"></div><div class=\"marke min\" style=\"left:" +
       Percent(MinimumThreshold) + "\"><span>Minimum " +
       VoltageText(MinimumThreshold, 4) +
       " V</span></div><div class=\"marke max\" style=\"left:" +
       Percent(MaximumThreshold) + "\"><span>Maximum " +
       VoltageText(MaximumThreshold, 4) + " V</span></div></div>\n";

  // Connection, trust, the times and ages of the last query and
  // evaluation.
  h += "<p>" + Span(s.Connected ? "ok" : "warn", ConnectionText(s)) + "<br>" +
       Span(Trusted(s) ? "ok" : "warn", TrustText(s)) + "<br>";
  h += "Letzte Abfrage: " +
       (s.Queried
            ? DateTimeText(s.QueryTime) + " (vor " + AgeText(queryAge) + ")"
            : Text("keine")) +
       OldMark(old) + "<br>";
  int64_t evaluationAge = WebEvaluationAgeMs(s, now);
  h += "Letzte Auswertung: " +
       (s.Evaluated ? DateTimeText(s.LastEvaluation.Time) + " (vor " +
                          AgeText(evaluationAge) + ")"
                    : Text("keine")) +
       "</p>\n";

  // The well's functions on outputs 3, 4 and 5.
  h += "<h2>Brunnen-Funktionen</h2>\n<table>\n";
  const bool released[3] = {s.MeasurementEnabled, s.MinimumEnabled,
                            s.MaximumEnabled};
  for (int n = 3; n <= 5; n++) {
    h += "<tr><td>Ausgang " + std::to_string(n) + " " +
         Escaped(s.OutputName[n]) + "</td><td>" + ContactSpan(s.Output[n]) +
         "</td><td>" + FunctionSpan(released[n - 3]);
    // Past the cycle's end the sensor is on and the level being read.
    if (n == 3 && s.MeasurementEnabled)
      h += "<br><span class=\"klein\">" +
           (s.CycleSecondsLeft > 0
                ? "Messung in " + std::to_string(s.CycleSecondsLeft) + " s"
                : Text("Messung läuft")) +
           "</span>";
    h += "</td></tr>\n";
  }
  h += "</table>\n";

  h += "<h2>Weitere Ausgänge</h2>\n<table>\n";
  for (int n : {1, 2, 6, 7, 8})
    h += "<tr><td>Ausgang " + std::to_string(n) + " " +
         Escaped(s.OutputName[n]) + "</td><td>" + ContactSpan(s.Output[n]) +
         "</td></tr>\n";
  h += "</table>\n<h2>Eingänge</h2>\n<table>\n";
  for (int n = 1; n <= 4; n++)
    h += "<tr><td>" + Escaped(s.InputName[n]) + "</td><td>" +
         ContactSpan(s.Input[n]) + "</td></tr>\n";
  for (int n = 1; n <= 4; n++)
    h += "<tr><td>" + Escaped(s.AnalogName[n]) + "</td><td>" +
         Span(OffClass, s.AnalogText[n] + " " + s.AnalogUnit[n]) +
         "</td></tr>\n";
  h += "</table>\n";

  h += "<h2>Trockenlauf und Ereignisse</h2>\n<p>" + Escaped(s.DryRunText) +
       "</p>\n<ul>\n";
  if (s.Events.empty()) h += "<li>Noch keine Ereignisse seit dem Start.</li>\n";
  for (const Text& e : s.Events) h += "<li>" + Escaped(e) + "</li>\n";
  h += "</ul>\n";

  h += "<h2>Verlauf des letzten Tages</h2>\n<img src=\"/verlauf.svg" + query +
       "\" width=\"720\" height=\"260\" alt=\"Verlauf des Wasserstands am "
       "letzten Tag\">\n";
  h += "<p class=\"klein\">Nur Anzeige: diese Seite kann nichts schalten. "
       "Stand der Seite " +
       DateTimeText(now.Local) + ", neu alle " +
       std::to_string(WebRefreshSeconds) + " s. <a href=\"/status.json" +
       query + "\">Zahlen als JSON</a></p>\n</body></html>\n";
  return Utf8FromWindows1252(h);
}

Text WebFiguresJson(const WebSnapshot& s, const WebClock& now) {
  int64_t queryAge = WebQueryAgeMs(s, now);
  int64_t evaluationAge = WebEvaluationAgeMs(s, now);
  auto seconds = [](int64_t ms) {
    return ms < 0 ? Text("null") : std::to_string(ms / 1000);
  };
  Text j = "{\n";
  j += "\"zeit\": " + Quoted(DateTimeText(now.Local)) + ",\n";
  j += "\"daten\": " + Bool(s.Taken) + ",\n";
  j += "\"verbindung\": {\"steht\": " +
       (s.Taken ? Bool(s.Connected) : Text("null")) + ", \"seit\": " +
       (s.Taken ? Quoted(DateTimeText(s.ConnectionSince)) : Text("null")) +
       ", \"text\": " + Quoted(ConnectionText(s)) + "},\n";
  j += "\"wasserstand\": {\"text\": " + Quoted(s.LevelText) +
       ", \"volt\": " + (s.LevelRead ? Number(s.LevelVolts) : Text("null")) +
       ", \"minimum_volt\": " + Number(MinimumThreshold) +
       ", \"maximum_volt\": " + Number(MaximumThreshold) + "},\n";
  j += "\"messwerte_sicher\": " + Bool(Trusted(s)) +
       ", \"messwerte_text\": " + Quoted(TrustText(s)) + ",\n";
  j += "\"letzte_abfrage\": {\"zeit\": " +
       (s.Queried ? Quoted(DateTimeText(s.QueryTime)) : Text("null")) +
       ", \"alter_s\": " + seconds(queryAge) +
       ", \"alt\": " + Bool(queryAge < 0 || queryAge > WebOldAfterMs(s)) +
       "},\n";
  j += "\"letzte_auswertung\": {\"zeit\": " +
       (s.Evaluated ? Quoted(DateTimeText(s.LastEvaluation.Time))
                    : Text("null")) +
       ", \"alter_s\": " + seconds(evaluationAge) + "},\n";
  const bool released[3] = {s.MeasurementEnabled, s.MinimumEnabled,
                            s.MaximumEnabled};
  j += "\"funktionen\": {\"messung\": " + Bool(released[0]) +
       ", \"minimum\": " + Bool(released[1]) +
       ", \"maximum\": " + Bool(released[2]) + "},\n";
  j += "\"ausgaenge\": [";
  for (int n = 1; n <= 8; n++)
    j += Text(n > 1 ? ", " : "") + "{\"nummer\": " + std::to_string(n) +
         ", \"name\": " + Quoted(s.OutputName[n]) +
         ", \"kontakt\": " + Quoted(ContactKey(s.Output[n])) + "}";
  j += "],\n\"eingaenge\": [";
  for (int n = 1; n <= 4; n++)
    j += Text(n > 1 ? ", " : "") + "{\"nummer\": " + std::to_string(n) +
         ", \"name\": " + Quoted(s.InputName[n]) +
         ", \"kontakt\": " + Quoted(ContactKey(s.Input[n])) + "}";
  j += "],\n\"analog\": [";
  for (int n = 1; n <= 4; n++)
    j += Text(n > 1 ? ", " : "") + "{\"nummer\": " + std::to_string(n) +
         ", \"name\": " + Quoted(s.AnalogName[n]) +
         ", \"text\": " + Quoted(s.AnalogText[n]) + "}";
  j += "],\n\"trockenlauf\": " + Quoted(s.DryRunText) + ",\n";
  j += "\"ereignisse\": [";
  for (size_t i = 0; i < s.Events.size(); i++)
    j += Text(i > 0 ? ", " : "") + Quoted(s.Events[i]);
  j += "]\n}\n";
  return Utf8FromWindows1252(j);
}

namespace {

Text Fixed(double v) {
  char text[24];
  snprintf(text, sizeof text, "%.1f", v);
  return text;
}

Text Stroke(const ChartStep& s) {
  Text out = " stroke=\"" + Colour(s.Colour) + "\"";
  if (s.Width != 1) out += " stroke-width=\"" + std::to_string(s.Width) + "\"";
  if (s.Style == LineDashed) out += " stroke-dasharray=\"6 4\"";
  return out;
}

Text PathData(const ChartStep& s) {
  Text d;
  for (const ChartPoint& p : s.Points) {
    switch (p.Kind) {
      case PointMove:
        d += "M" + Fixed(p.X) + " " + Fixed(p.Y);
        break;
      case PointLine:
        d += "L" + Fixed(p.X) + " " + Fixed(p.Y);
        break;
      case PointVertical:
        d += "V" + Fixed(p.Y);
        break;
      case PointHorizontal:
        d += "H" + Fixed(p.X);
        break;
    }
  }
  return d;
}

// The page's font, 12 units of sans-serif: a line of text's baseline lies
// this far below its top, and below its middle.
const double BaselineBelowTop = 11;
const double BaselineBelowMiddle = 4;

}  // namespace

// A column wholly outside the day breaks the line.
ChartSeries WebPictureSeries(const WebSnapshot& s) {
  ChartSeries series;
  int64_t to = s.DayEndUniversal;
  int64_t from = to - 86400;
  for (const WebColumn& c : s.Day.Columns) {
    series.Evaluations += c.Count;
    ChartSample sample{};
    sample.Universal = c.Index * WebColumnSeconds + WebColumnSeconds / 2;
    sample.HasLevel = c.HasLevel && (c.Index + 1) * WebColumnSeconds > from &&
                      c.Index * WebColumnSeconds <= to;
    sample.Joined = c.Joined;
    sample.First = c.First;
    sample.Low = c.Low;
    sample.High = c.High;
    sample.Last = c.Last;
    series.Samples.push_back(sample);
  }
  for (int k = 0; k < 2; k++)
    for (const WebSpan& span : s.Day.On[k])
      series.On[k].push_back(ChartSpan{span.From, span.To});
  return series;
}

ChartFrame WebPictureFrame(const WebSnapshot& s) {
  ChartFrame f;
  f.PlotLeft = 52;
  f.PlotTop = 34;
  f.PlotRight = 708;
  f.PlotBottom = 228;
  f.Span = 86400;
  f.End = s.DayEndUniversal;
  f.Lead = LeadOf(s.DayEndLocal, s.DayEndUniversal);
  f.TimeTickRoom = 80;
  f.VoltSteps = {0.2, 0.5, 1.0};
  f.VoltTickRoom = 19;
  f.LeastBand = 3;
  f.LabelGap = 5;
  f.UnitRise = 19;
  f.AboveLine = 15;
  f.BelowLine = 2;
  f.LegendAt[1] = 198;
  f.LegendAt[2] = 398;
  f.LegendTextGap = 18;
  f.Empty = "Keine Messung am letzten Tag";
  return f;
}

Text SvgOfChartSteps(const ChartSteps& steps) {
  Text g;
  for (const ChartStep& s : steps) {
    switch (s.Kind) {
      case KindRect:
        g += "<rect x=\"" + Fixed(s.X1) + "\" y=\"" + Fixed(s.Y1) +
             "\" width=\"" + Fixed(s.X2 - s.X1) + "\" height=\"" +
             Fixed(s.Y2 - s.Y1) + "\" fill=\"" + Colour(s.Colour) + "\"/>\n";
        break;
      case KindLine:
        g += "<line x1=\"" + Fixed(s.X1) + "\" y1=\"" + Fixed(s.Y1) +
             "\" x2=\"" + Fixed(s.X2) + "\" y2=\"" + Fixed(s.Y2) + "\"" +
             Stroke(s) + "/>\n";
        break;
      case KindPolyline:
        if (!s.Points.empty())
          g += "<path d=\"" + PathData(s) + "\" fill=\"none\"" + Stroke(s) +
               "/>\n";
        for (const ChartPoint& p : s.Points)
          if (HasDot(s, p))
            g += "<circle cx=\"" + Fixed(p.X) + "\" cy=\"" + Fixed(p.Y) +
                 "\" r=\"" + std::to_string(s.Radius) + "\" fill=\"" +
                 Colour(s.Colour) + "\"/>\n";
        break;
      case KindDot:
        g += "<circle cx=\"" + Fixed(s.X1) + "\" cy=\"" + Fixed(s.Y1) +
             "\" r=\"" + std::to_string(s.Radius) + "\" fill=\"" +
             Colour(s.Colour) + "\"/>\n";
        break;
      case KindText: {
        int across = s.Align & (AlignCentre | AlignRight);
        const char* anchor = across == AlignCentre  ? "middle"
                             : across == AlignRight ? "end"
                                                    : "start";
        double baseline = s.Y1 + ((s.Align & AlignMiddle) ? BaselineBelowMiddle
                                                          : BaselineBelowTop);
        g += "<text x=\"" + Fixed(s.X1) + "\" y=\"" + Fixed(baseline) +
             "\" text-anchor=\"" + anchor + "\" fill=\"" + Colour(s.Colour) +
             "\">" + Escaped(s.Words) + "</text>\n";
        break;
      }
    }
  }
  return g;
}

Text WebPictureSvg(const WebSnapshot& s) {
  Text g =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"720\" "
      "height=\"260\" viewBox=\"0 0 720 260\" font-family=\"sans-serif\" "
      "font-size=\"12\">\n<title>Verlauf des Wasserstands am letzten "
      "Tag</title>\n<rect width=\"720\" height=\"260\" fill=\"#FFFFFF\"/>\n";
  g += SvgOfChartSteps(
      HistoryPictureSteps(WebPictureSeries(s), WebPictureFrame(s)));
  g += "</svg>\n";
  return Utf8FromWindows1252(g);
}
