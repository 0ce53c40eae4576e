<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr">
<context>
    <name>MainWindow</name>
    <message>
        <source>Sonvela</source>
        <translation>Sonvela</translation>
    </message>
    <message>
        <source>Output icon</source>
        <translation>Icône de la sortie</translation>
    </message>
    <message>
        <source>Active output</source>
        <translation>Sortie active</translation>
    </message>
    <message>
        <source>Volume</source>
        <translation>Volume</translation>
    </message>
    <message>
        <source>Volume of this output</source>
        <translation>Volume de cette sortie</translation>
    </message>
    <message>
        <source> %</source>
        <translation> %</translation>
    </message>
    <message>
        <source>Volume in percent</source>
        <translation>Volume en pourcentage</translation>
    </message>
    <message>
        <source>Keep volumes per output (run Sonvela Helper)</source>
        <translation>Garder un volume par sortie (exécuter Sonvela Helper)</translation>
    </message>
    <message>
        <source>Start Sonvela Helper when I log in</source>
        <translation>Lancer Sonvela Helper à l’ouverture de session</translation>
    </message>
</context>
</TS>
