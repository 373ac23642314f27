@echo off
rem Beispiel fuer den Alarmbefehl von KORVALINEX:
rem   korvalinex.exe /alarm "C:\Brunnen\alarm-beispiel.cmd"
rem Das Programm startet dieses Skript bei jedem Alarmereignis, ohne darauf
rem zu warten und ohne Fenster, mit drei Angaben:
rem   %1  Kurzname des Ereignisses: minimum-ein, maximum-ein, minimum-aus,
rem       maximum-aus, verbindung-weg, verbindung-zurueck, messwert-unsicher,
rem       minimum-gesperrt, maximum-gesperrt, waechter-blind, waechter-sieht
rem   %2  Ortszeit, z. B. 2026-12-09T10:04:17
rem   %3  Wasserstand in Volt mit Dezimalkomma, z. B. 0,18 (ohne Wert: -)
rem Jede Angabe kommt in Anfuehrungszeichen; %~1 bis %~3 nehmen sie ab.
rem
rem Das Skript schreibt jedes Ereignis als Zeile in alarme.txt neben sich.
rem Es sollte nach wenigen Sekunden fertig sein: laeuft es laenger als 60 s,
rem zeigt das Verlaufsfenster das an, und hoechstens vier laufen zugleich.

setlocal
set "EREIGNIS=%~1"
set "ZEIT=%~2"
set "STAND=%~3"
>>"%~dp0alarme.txt" echo %ZEIT% %EREIGNIS% Stand %STAND%

rem --- Mail mit Bordmitteln (abgeschaltet) ------------------------------
rem Zum Einschalten: unten Absender, Empfaenger und Mailserver eintragen
rem (alles mit example.invalid ersetzen) und das "rem" vor "powershell"
rem entfernen. Verlangt der Mailserver eine Anmeldung oder TLS, gehoeren
rem -UseSsl -Port 587 und -Credential dazu (siehe Hilfe zu Send-MailMessage).
rem Ohne diese Aenderung geht nichts ins Netz.
rem
rem powershell -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command "Send-MailMessage -From 'brunnen@example.invalid' -To 'betreiber@example.invalid' -SmtpServer 'mail.example.invalid' -Subject ('Brunnen: ' + $env:EREIGNIS) -Body ($env:ZEIT + ', Stand ' + $env:STAND + ' V')"

endlocal
