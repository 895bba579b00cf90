[Main]
LanguageName=Deutsch
BiDiMode=RLRO
[Messages]
MyComputer=Arbeitsplatz
