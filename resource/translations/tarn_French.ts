<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR">
<context>
    <name>tarn</name>
    <message>
        <source>About</source>
        <translation>À propos</translation>
    </message>
    <message>
        <source>Adjust how Corvane Connect works for you.</source>
        <translation>Adaptez Corvane Connect à vos besoins.</translation>
    </message>
    <message>
        <source>Answer incoming calls automatically</source>
        <translation>Répondre automatiquement aux appels entrants</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>Appliquer</translation>
    </message>
    <message>
        <source>Check for updates</source>
        <translation>Rechercher des mises à jour</translation>
    </message>
    <message>
        <source>Choose the language of the application.</source>
        <translation>Choisissez la langue de l’application.</translation>
    </message>
    <message>
        <source>Connected devices: %1</source>
        <translation>Appareils connectés : %1</translation>
    </message>
    <message>
        <source>Copyright 2026 Corvane. All rights reserved.</source>
        <translation>Copyright 2026 Corvane. Tous droits réservés.</translation>
    </message>
    <message>
        <source>Corvane Connect</source>
        <translation>Corvane Connect</translation>
    </message>
    <message>
        <source>Corvane Connect is provided to help you set up and use your Corvane devices.</source>
        <translation>Corvane Connect vous aide à configurer et à utiliser vos appareils Corvane.</translation>
    </message>
    <message>
        <source>Corvane Connect keeps its settings and logs on this computer only.</source>
        <translation>Corvane Connect conserve ses paramètres et ses journaux uniquement sur cet ordinateur.</translation>
    </message>
    <message>
        <source>Current version: %1</source>
        <translation>Version actuelle : %1</translation>
    </message>
    <message>
        <source>Describe your problem or suggestion</source>
        <translation>Décrivez votre problème ou votre suggestion</translation>
    </message>
    <message>
        <source>Device management</source>
        <translation>Gestion des appareils</translation>
    </message>
    <message>
        <source>Devices</source>
        <translation>Appareils</translation>
    </message>
    <message>
        <source>Feedback</source>
        <translation>Commentaires</translation>
    </message>
    <message>
        <source>Feedback you write stays on this computer. Nothing is sent without your consent.</source>
        <translation>Vos commentaires restent sur cet ordinateur. Rien n’est envoyé sans votre accord.</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Fichier</translation>
    </message>
    <message>
        <source>For example https://dms.example.com</source>
        <translation>Par exemple https://dms.example.com</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Aide</translation>
    </message>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>Langue</translation>
    </message>
    <message>
        <source>Language settings</source>
        <translation>Paramètres de langue</translation>
    </message>
    <message>
        <source>Manufacturer</source>
        <translation>Fabricant</translation>
    </message>
    <message>
        <source>No USB devices found</source>
        <translation>Aucun appareil USB trouvé</translation>
    </message>
    <message>
        <source>No settings are available.</source>
        <translation>Aucun paramètre disponible.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Options for calls made with your headset.</source>
        <translation>Options pour les appels passés avec votre casque.</translation>
    </message>
    <message>
        <source>Play a ring tone for incoming calls</source>
        <translation>Jouer une sonnerie pour les appels entrants</translation>
    </message>
    <message>
        <source>Please enter a valid server address.</source>
        <translation>Veuillez saisir une adresse de serveur valide.</translation>
    </message>
    <message>
        <source>Please enter your feedback first.</source>
        <translation>Veuillez d’abord saisir vos commentaires.</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Privacy policy</source>
        <translation>Politique de confidentialité</translation>
    </message>
    <message>
        <source>Product</source>
        <translation>Produit</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Quitter</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Actualiser</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Enregistrer</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>Envoyer</translation>
    </message>
    <message>
        <source>Server address</source>
        <translation>Adresse du serveur</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Paramètres</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>Afficher</translation>
    </message>
    <message>
        <source>Soft phone</source>
        <translation>Softphone</translation>
    </message>
    <message>
        <source>Soft phone settings</source>
        <translation>Paramètres du softphone</translation>
    </message>
    <message>
        <source>Software update</source>
        <translation>Mise à jour du logiciel</translation>
    </message>
    <message>
        <source>Start at login</source>
        <translation>Démarrer à la connexion</translation>
    </message>
    <message>
        <source>Start the soft phone together with the application</source>
        <translation>Démarrer le softphone avec l’application</translation>
    </message>
    <message>
        <source>Tell us what works well and what we should improve.</source>
        <translation>Dites-nous ce qui fonctionne bien et ce que nous devrions améliorer.</translation>
    </message>
    <message>
        <source>Thank you! Your feedback has been saved.</source>
        <translation>Merci ! Vos commentaires ont été enregistrés.</translation>
    </message>
    <message>
        <source>The companion application for your Corvane USB devices.</source>
        <translation>L’application compagnon de vos appareils USB Corvane.</translation>
    </message>
    <message>
        <source>The language setting could not be saved.</source>
        <translation>Le paramètre de langue n’a pas pu être enregistré.</translation>
    </message>
    <message>
        <source>The server address could not be saved.</source>
        <translation>L’adresse du serveur n’a pas pu être enregistrée.</translation>
    </message>
    <message>
        <source>The server address has been saved.</source>
        <translation>L’adresse du serveur a été enregistrée.</translation>
    </message>
    <message>
        <source>The server that manages your devices. Leave it empty when you have none.</source>
        <translation>Le serveur qui gère vos appareils. Laissez le champ vide si vous n’en avez pas.</translation>
    </message>
    <message>
        <source>The software is provided as it is, without any warranty.</source>
        <translation>Le logiciel est fourni en l’état, sans aucune garantie.</translation>
    </message>
    <message>
        <source>USB devices connected to this computer.</source>
        <translation>Appareils USB connectés à cet ordinateur.</translation>
    </message>
    <message>
        <source>Unknown device</source>
        <translation>Appareil inconnu</translation>
    </message>
    <message>
        <source>Unknown manufacturer</source>
        <translation>Fabricant inconnu</translation>
    </message>
    <message>
        <source>User agreement</source>
        <translation>Contrat d’utilisation</translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>Welcome to Corvane Connect</source>
        <translation>Bienvenue dans Corvane Connect</translation>
    </message>
    <message>
        <source>You are using the latest version.</source>
        <translation>Vous utilisez la dernière version.</translation>
    </message>
    <message>
        <source>You may use it on every computer you connect these devices to.</source>
        <translation>Vous pouvez l’utiliser sur tout ordinateur auquel vous connectez ces appareils.</translation>
    </message>
    <message>
        <source>Your feedback could not be saved.</source>
        <translation>Vos commentaires n’ont pas pu être enregistrés.</translation>
    </message>
    <message>
        <source>Corvane Connect logo</source>
        <translation>Logo de Corvane Connect</translation>
    </message>
    <message>
        <source>Navigation</source>
        <translation>Navigation</translation>
    </message>
    <message>
        <source>USB devices</source>
        <translation>Périphériques USB</translation>
    </message>
    <message>
        <source>Settings categories</source>
        <translation>Catégories de paramètres</translation>
    </message>
    <message>
        <source>Your feedback</source>
        <translation>Votre avis</translation>
    </message>
</context>
</TS>
