<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>MainWindow</name>
    <message>
        <source>Sonvela</source>
        <translation>Sonvela</translation>
    </message>
    <message>
        <source>Output icon</source>
        <translation>Symbol des Ausgangs</translation>
    </message>
    <message>
        <source>Active output</source>
        <translation>Aktiver Ausgang</translation>
    </message>
    <message>
        <source>Volume</source>
        <translation>Lautstärke</translation>
    </message>
    <message>
        <source>Volume of this output</source>
        <translation>Lautstärke dieses Ausgangs</translation>
    </message>
    <message>
        <source> %</source>
        <translation> %</translation>
    </message>
    <message>
        <source>Volume in percent</source>
        <translation>Lautstärke in Prozent</translation>
    </message>
    <message>
        <source>Keep volumes per output (run Sonvela Helper)</source>
        <translation>Lautstärke je Ausgang merken (Sonvela Helper ausführen)</translation>
    </message>
    <message>
        <source>Start Sonvela Helper when I log in</source>
        <translation>Sonvela Helper bei der Anmeldung starten</translation>
    </message>
</context>
</TS>
