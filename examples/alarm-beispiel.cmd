@echo off
rem Beispiel fuer den Alarmbefehl von KORVALINEX:
rem   korvalinex.exe /alarm "C:\Brunnen\alarm-beispiel.cmd"
rem Das Programm startet dieses Skript bei jedem Alarmereignis, ohne darauf
rem zu warten und ohne Fenster, mit drei Angaben (beim Lebenszeichen sieben,
rem bei pc-wach und pc-ende vier):
rem   %1  Kurzname des Ereignisses: minimum-ein, maximum-ein, minimum-aus,
rem       maximum-aus, verbindung-weg, verbindung-zurueck, messwert-unsicher,
rem       minimum-gesperrt, maximum-gesperrt, waechter-blind, waechter-sieht,
rem       ausgang-abweichend, pc-schlaf, pc-wach,
rem       lebenszeichen (taeglich, mit /alarm-taeglich HH:MM),
rem       programm-start (bei jedem Start), pc-ende (Windows beendet die
rem       Sitzung: der Waechter endet)
rem   %2  Ortszeit, z. B. 2026-12-09T10:04:17
rem   %3  Wasserstand in Volt mit Dezimalkomma, z. B. 0,18 (ohne Wert: -)
rem Nur bei pc-ende eine vierte, der Grund: herunterfahren (Herunterfahren
rem oder Neustart), abmelden, update (ein Update beendet das Programm; es
rem wird danach wieder gestartet) oder kritisch (Windows endet sofort).
rem Nur beim Lebenszeichen vier weitere, fuer die 24 Stunden davor:
rem   %4  wie oft Ausgang 4 (Trockenlauf) eingeschaltet wurde
rem   %5  wie viele Minuten Ausgang 4 eingeschaltet war
rem   %6  wie viele Messungen unsicher waren
rem   %7  wie oft die Verbindung zur Platine verloren ging
rem Nur bei pc-wach eine weitere:
rem   %4  wie viele Minuten der PC geschlafen hat (so lange unbewacht)
rem Jede Angabe kommt in Anfuehrungszeichen; %~1 bis %~7 nehmen sie ab.
rem Bleibt das Lebenszeichen aus, laeuft der Waechter oder sein Alarmweg
rem nicht: dann nachsehen.
rem
rem Das Skript schreibt jedes Ereignis als Zeile in alarme.txt neben sich.
rem Es sollte nach wenigen Sekunden fertig sein: laeuft es laenger als 60 s,
rem zeigt das Verlaufsfenster das an, und hoechstens vier laufen zugleich.

setlocal
set "EREIGNIS=%~1"
set "ZEIT=%~2"
set "STAND=%~3"
if "%EREIGNIS%"=="lebenszeichen" (
  >>"%~dp0alarme.txt" echo %ZEIT% lebenszeichen Trockenlauf %~4-mal %~5 min, unsicher %~6, Verbindung weg %~7-mal
) else if "%EREIGNIS%"=="pc-ende" (
  >>"%~dp0alarme.txt" echo %ZEIT% pc-ende Grund %~4
) else if "%EREIGNIS%"=="pc-wach" (
  >>"%~dp0alarme.txt" echo %ZEIT% pc-wach %~4 min geschlafen
) else (
  >>"%~dp0alarme.txt" echo %ZEIT% %EREIGNIS% Stand %STAND%
)

rem --- Mail mit Bordmitteln (abgeschaltet) ------------------------------
rem Zum Einschalten: unten Absender, Empfaenger und Mailserver eintragen
rem (alles mit example.invalid ersetzen) und das "rem" vor "powershell"
rem entfernen. Verlangt der Mailserver eine Anmeldung oder TLS, gehoeren
rem -UseSsl -Port 587 und -Credential dazu (siehe Hilfe zu Send-MailMessage).
rem Ohne diese Aenderung geht nichts ins Netz.
rem
rem powershell -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command "Send-MailMessage -From 'brunnen@example.invalid' -To 'betreiber@example.invalid' -SmtpServer 'mail.example.invalid' -Subject ('Brunnen: ' + $env:EREIGNIS) -Body ($env:ZEIT + ', Stand ' + $env:STAND + ' V')"

endlocal
