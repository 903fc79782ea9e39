<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>tarn</name>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Adjust how Corvane Connect works for you.</source>
        <translation>Passen Sie Corvane Connect an Ihre Bedürfnisse an.</translation>
    </message>
    <message>
        <source>Answer incoming calls automatically</source>
        <translation>Eingehende Anrufe automatisch annehmen</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>Übernehmen</translation>
    </message>
    <message>
        <source>Check for updates</source>
        <translation>Nach Updates suchen</translation>
    </message>
    <message>
        <source>Choose the language of the application.</source>
        <translation>Wählen Sie die Sprache der Anwendung.</translation>
    </message>
    <message>
        <source>Connected devices: %1</source>
        <translation>Verbundene Geräte: %1</translation>
    </message>
    <message>
        <source>Copyright 2026 Corvane. All rights reserved.</source>
        <translation>Copyright 2026 Corvane. Alle Rechte vorbehalten.</translation>
    </message>
    <message>
        <source>Corvane Connect</source>
        <translation>Corvane Connect</translation>
    </message>
    <message>
        <source>Corvane Connect is provided to help you set up and use your Corvane devices.</source>
        <translation>Corvane Connect hilft Ihnen, Ihre Corvane-Geräte einzurichten und zu verwenden.</translation>
    </message>
    <message>
        <source>Corvane Connect keeps its settings and logs on this computer only.</source>
        <translation>Corvane Connect speichert seine Einstellungen und Protokolle nur auf diesem Computer.</translation>
    </message>
    <message>
        <source>Current version: %1</source>
        <translation>Aktuelle Version: %1</translation>
    </message>
    <message>
        <source>Describe your problem or suggestion</source>
        <translation>Beschreiben Sie Ihr Problem oder Ihren Vorschlag</translation>
    </message>
    <message>
        <source>Device management</source>
        <translation>Geräteverwaltung</translation>
    </message>
    <message>
        <source>Devices</source>
        <translation>Geräte</translation>
    </message>
    <message>
        <source>Feedback</source>
        <translation>Feedback</translation>
    </message>
    <message>
        <source>Feedback you write stays on this computer. Nothing is sent without your consent.</source>
        <translation>Ihr Feedback bleibt auf diesem Computer. Ohne Ihre Zustimmung wird nichts gesendet.</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>For example https://dms.example.com</source>
        <translation>Zum Beispiel https://dms.example.com</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>Sprache</translation>
    </message>
    <message>
        <source>Language settings</source>
        <translation>Spracheinstellungen</translation>
    </message>
    <message>
        <source>Manufacturer</source>
        <translation>Hersteller</translation>
    </message>
    <message>
        <source>No USB devices found</source>
        <translation>Keine USB-Geräte gefunden</translation>
    </message>
    <message>
        <source>No settings are available.</source>
        <translation>Keine Einstellungen verfügbar.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Options for calls made with your headset.</source>
        <translation>Optionen für Anrufe mit Ihrem Headset.</translation>
    </message>
    <message>
        <source>Play a ring tone for incoming calls</source>
        <translation>Klingelton bei eingehenden Anrufen abspielen</translation>
    </message>
    <message>
        <source>Please enter a valid server address.</source>
        <translation>Bitte geben Sie eine gültige Serveradresse ein.</translation>
    </message>
    <message>
        <source>Please enter your feedback first.</source>
        <translation>Bitte geben Sie zuerst Ihr Feedback ein.</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Anschluss</translation>
    </message>
    <message>
        <source>Privacy policy</source>
        <translation>Datenschutzerklärung</translation>
    </message>
    <message>
        <source>Product</source>
        <translation>Produkt</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>Senden</translation>
    </message>
    <message>
        <source>Server address</source>
        <translation>Serveradresse</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>Anzeigen</translation>
    </message>
    <message>
        <source>Soft phone</source>
        <translation>Softphone</translation>
    </message>
    <message>
        <source>Soft phone settings</source>
        <translation>Softphone-Einstellungen</translation>
    </message>
    <message>
        <source>Software update</source>
        <translation>Softwareaktualisierung</translation>
    </message>
    <message>
        <source>Start at login</source>
        <translation>Bei der Anmeldung starten</translation>
    </message>
    <message>
        <source>Start the soft phone together with the application</source>
        <translation>Softphone zusammen mit der Anwendung starten</translation>
    </message>
    <message>
        <source>Tell us what works well and what we should improve.</source>
        <translation>Sagen Sie uns, was gut funktioniert und was wir verbessern sollten.</translation>
    </message>
    <message>
        <source>Thank you! Your feedback has been saved.</source>
        <translation>Vielen Dank! Ihr Feedback wurde gespeichert.</translation>
    </message>
    <message>
        <source>The companion application for your Corvane USB devices.</source>
        <translation>Die Begleitanwendung für Ihre Corvane-USB-Geräte.</translation>
    </message>
    <message>
        <source>The language setting could not be saved.</source>
        <translation>Die Spracheinstellung konnte nicht gespeichert werden.</translation>
    </message>
    <message>
        <source>The server address could not be saved.</source>
        <translation>Die Serveradresse konnte nicht gespeichert werden.</translation>
    </message>
    <message>
        <source>The server address has been saved.</source>
        <translation>Die Serveradresse wurde gespeichert.</translation>
    </message>
    <message>
        <source>The server that manages your devices. Leave it empty when you have none.</source>
        <translation>Der Server, der Ihre Geräte verwaltet. Lassen Sie das Feld leer, wenn Sie keinen haben.</translation>
    </message>
    <message>
        <source>The software is provided as it is, without any warranty.</source>
        <translation>Die Software wird ohne Mängelgewähr und ohne jede Garantie bereitgestellt.</translation>
    </message>
    <message>
        <source>USB devices connected to this computer.</source>
        <translation>USB-Geräte, die mit diesem Computer verbunden sind.</translation>
    </message>
    <message>
        <source>Unknown device</source>
        <translation>Unbekanntes Gerät</translation>
    </message>
    <message>
        <source>Unknown manufacturer</source>
        <translation>Unbekannter Hersteller</translation>
    </message>
    <message>
        <source>User agreement</source>
        <translation>Nutzungsvereinbarung</translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>Welcome to Corvane Connect</source>
        <translation>Willkommen bei Corvane Connect</translation>
    </message>
    <message>
        <source>You are using the latest version.</source>
        <translation>Sie verwenden die neueste Version.</translation>
    </message>
    <message>
        <source>You may use it on every computer you connect these devices to.</source>
        <translation>Sie dürfen sie auf jedem Computer verwenden, mit dem Sie diese Geräte verbinden.</translation>
    </message>
    <message>
        <source>Your feedback could not be saved.</source>
        <translation>Ihr Feedback konnte nicht gespeichert werden.</translation>
    </message>
    <message>
        <source>Corvane Connect logo</source>
        <translation>Corvane-Connect-Logo</translation>
    </message>
    <message>
        <source>Navigation</source>
        <translation>Navigation</translation>
    </message>
    <message>
        <source>USB devices</source>
        <translation>USB-Geräte</translation>
    </message>
    <message>
        <source>Settings categories</source>
        <translation>Einstellungsbereiche</translation>
    </message>
    <message>
        <source>Your feedback</source>
        <translation>Ihr Feedback</translation>
    </message>
</context>
</TS>
