<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja_JP">
<context>
    <name>app::KeyboardWindow</name>
    <message>
        <source>Tonvik Ver%1 [Prog.:%2]</source>
        <translation>Tonvik Ver%1 [Prog.:%2]</translation>
    </message>
    <message>
        <source>鍵盤（表示のみ）</source>
        <translation>Keyboard (display only)</translation>
    </message>
    <message>
        <source>PROG.</source>
        <translation>PROG.</translation>
    </message>
    <message>
        <source>音色番号設定[BS]</source>
        <translation>Choose the program [BS]</translation>
    </message>
    <message>
        <source>音階[Del/Ins]</source>
        <translation>Octave [Del/Ins]</translation>
    </message>
    <message>
        <source>OCT.</source>
        <translation>OCT.</translation>
    </message>
    <message>
        <source>VEL.</source>
        <translation>VEL.</translation>
    </message>
    <message>
        <source>打鍵速度[RollUp/RollDown]</source>
        <translation>Velocity [RollUp/RollDown]</translation>
    </message>
    <message>
        <source>VOL.</source>
        <translation>VOL.</translation>
    </message>
    <message>
        <source>音量[Shift+RollUp/RollDown]</source>
        <translation>Volume [Shift+RollUp/RollDown]</translation>
    </message>
    <message>
        <source>TRANS.</source>
        <translation>TRANS.</translation>
    </message>
    <message>
        <source>移調[Shift+Ins/Del]</source>
        <translation>Transpose [Shift+Ins/Del]</translation>
    </message>
    <message>
        <source>Rec</source>
        <translation>Rec</translation>
    </message>
    <message>
        <source>録音開始／終了[Return] &#x3000;休符[Space]&#x3000;中止[Esc]</source>
        <translation>Start/stop recording [Return]   Rest [Space]   Cancel [Esc]</translation>
    </message>
    <message>
        <source>Config</source>
        <translation>Config</translation>
    </message>
    <message>
        <source>環境設定[Help]</source>
        <translation>Configuration [Help]</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>プログラム終了[Esc]</source>
        <translation>Quit Tonvik [Esc]</translation>
    </message>
    <message>
        <source>About</source>
        <translation>About</translation>
    </message>
    <message>
        <source>このプログラムについて</source>
        <translation>About Tonvik</translation>
    </message>
    <message>
        <source>設定を保存できませんでした。
%1</source>
        <translation>Cannot save the settings.
%1</translation>
    </message>
    <message>
        <source>レジストリを消去しました。</source>
        <translation>The settings have been erased.</translation>
    </message>
    <message>
        <source>設定を消去できませんでした。
%1</source>
        <translation>Cannot erase the settings.
%1</translation>
    </message>
    <message>
        <source>このプログラムはβバージョンです。
正式版より致命的なバグが潜んでいる可能性があるので注意してください。
なお、なるべく動作報告をお願いいたします。</source>
        <translation>This is a beta version.
It may hold serious bugs that a release would not have, so please take care.
Reports on how it works for you are very welcome.</translation>
    </message>
    <message>
        <source>バッファオーバー</source>
        <translation>The take is full (buffer overflow).</translation>
    </message>
    <message>
        <source>指定したMIDI入力デバイスが見つかりませんでした</source>
        <translation>The chosen MIDI input device was not found</translation>
    </message>
</context>
<context>
    <name>dialogs::TFormAbout</name>
    <message>
        <source>このプログラムについて</source>
        <translation>About Tonvik</translation>
    </message>
    <message>
        <source>Ver.%1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>パソコンのキーボードで弾くMIDI鍵盤</source>
        <translation>A MIDI keyboard played on the computer keyboard</translation>
    </message>
    <message>
        <source>もういい</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>dialogs::TFormConfig</name>
    <message>
        <source>指定したMIDIデバイスが見つかりませんでした</source>
        <translation>The chosen MIDI device was not found</translation>
    </message>
    <message>
        <source>環境設定</source>
        <translation>Configuration</translation>
    </message>
    <message>
        <source>DriverName</source>
        <translation>Device</translation>
    </message>
    <message>
        <source>Type</source>
        <translation>Type</translation>
    </message>
    <message>
        <source>Voices</source>
        <translation>Voices</translation>
    </message>
    <message>
        <source>Notes</source>
        <translation>Notes</translation>
    </message>
    <message>
        <source>VC</source>
        <translation>VC</translation>
    </message>
    <message>
        <source>MIDI信号出力先を指定します。</source>
        <translation>Where the MIDI messages go.</translation>
    </message>
    <message>
        <source>&amp;Drum</source>
        <translation>&amp;Drum</translation>
    </message>
    <message>
        <source>チェックするとドラムモードで発音します。</source>
        <translation>When checked, the keys play the drum channel.</translation>
    </message>
    <message>
        <source>音源リセットなし</source>
        <translation>No reset</translation>
    </message>
    <message>
        <source>GMリセットあり</source>
        <translation>GM reset</translation>
    </message>
    <message>
        <source>XGリセットあり</source>
        <translation>XG reset</translation>
    </message>
    <message>
        <source>GSリセットあり</source>
        <translation>GS reset</translation>
    </message>
    <message>
        <source>MIDIリセット方法を指定します。</source>
        <translation>How the sound module is reset.</translation>
    </message>
    <message>
        <source>常に最前面</source>
        <translation>Always on top</translation>
    </message>
    <message>
        <source>チェックするとウィンドウを常に最前面にします。</source>
        <translation>When checked, the window stays above all others.</translation>
    </message>
    <message>
        <source>標準配列</source>
        <translation>Standard layout</translation>
    </message>
    <message>
        <source>MOD配列</source>
        <translation>MOD layout</translation>
    </message>
    <message>
        <source>キーボード配列を選択します。</source>
        <translation>The layout of the notes on the keyboard.</translation>
    </message>
    <message>
        <source>PC98Key</source>
        <translation>PC98Key</translation>
    </message>
    <message>
        <source>チェックすると強制的にPC98x1キーボード用で動作させます。</source>
        <translation>When checked, the keys always work as on a PC-98x1 keyboard.</translation>
    </message>
    <message>
        <source>&amp;OK</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Cancel</translation>
    </message>
    <message>
        <source>MIDI信号の入力元（MIDIキーボード）を指定します。</source>
        <translation>Chooses where MIDI comes in from (a MIDI keyboard).</translation>
    </message>
    <message>
        <source>なし</source>
        <translation>None</translation>
    </message>
</context>
<context>
    <name>dialogs::TFormProg</name>
    <message>
        <source>音色コマンド入力</source>
        <translation>Choose a Program</translation>
    </message>
    <message>
        <source>音色選択</source>
        <translation>Program</translation>
    </message>
    <message>
        <source>&amp;OK</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Cancel</translation>
    </message>
    <message>
        <source>ピアノ(PN)</source>
        <translation>Piano (PN)</translation>
    </message>
    <message>
        <source>クロマチック・パーカッション(CP)</source>
        <translation>Chromatic Percussion (CP)</translation>
    </message>
    <message>
        <source>オルガン(OR)</source>
        <translation>Organ (OR)</translation>
    </message>
    <message>
        <source>ギター(GT)</source>
        <translation>Guitar (GT)</translation>
    </message>
    <message>
        <source>ベース(BS)</source>
        <translation>Bass (BS)</translation>
    </message>
    <message>
        <source>ストリングス(ST)</source>
        <translation>Strings (ST)</translation>
    </message>
    <message>
        <source>アンサンブル(EN)</source>
        <translation>Ensemble (EN)</translation>
    </message>
    <message>
        <source>ブラス(BR)</source>
        <translation>Brass (BR)</translation>
    </message>
    <message>
        <source>リード(RD)</source>
        <translation>Reed (RD)</translation>
    </message>
    <message>
        <source>パイプ(PP)</source>
        <translation>Pipe (PP)</translation>
    </message>
    <message>
        <source>シンセリード(SL)</source>
        <translation>Synth Lead (SL)</translation>
    </message>
    <message>
        <source>シンセパッド(SP)</source>
        <translation>Synth Pad (SP)</translation>
    </message>
    <message>
        <source>シンセエフェクト(SE)</source>
        <translation>Synth Effects (SE)</translation>
    </message>
    <message>
        <source>エスニック(ET)</source>
        <translation>Ethnic (ET)</translation>
    </message>
    <message>
        <source>パーカッシブ(PR)</source>
        <translation>Percussive (PR)</translation>
    </message>
    <message>
        <source>サウンドエフェクト(SF)</source>
        <translation>Sound Effects (SF)</translation>
    </message>
</context>
<context>
    <name>dialogs::TFormRec</name>
    <message>
        <source>標準MIDIファイル(*.mid)</source>
        <translation>Standard MIDI file (*.mid)</translation>
    </message>
    <message>
        <source>WAVファイル(*.wav)</source>
        <translation>WAV file (*.wav)</translation>
    </message>
    <message>
        <source>FLACファイル(*.flac)</source>
        <translation>FLAC file (*.flac)</translation>
    </message>
    <message>
        <source>全てのファイル(*)</source>
        <translation>All files (*)</translation>
    </message>
    <message>
        <source>入力内容編集</source>
        <translation>Edit the Take</translation>
    </message>
    <message>
        <source>テスト(&amp;T)</source>
        <translation>&amp;Test</translation>
    </message>
    <message>
        <source>テスト演奏</source>
        <translation>Play the MML</translation>
    </message>
    <message>
        <source>保存(&amp;S)</source>
        <translation>&amp;Save</translation>
    </message>
    <message>
        <source>MIDIファイルに保存</source>
        <translation>Save as a MIDI file</translation>
    </message>
    <message>
        <source>コピー(&amp;C)</source>
        <translation>&amp;Copy</translation>
    </message>
    <message>
        <source>MMLをクリップボードへコピー</source>
        <translation>Copy the MML to the clipboard</translation>
    </message>
    <message>
        <source>音長はｎ音符指定（&amp;でつなげられる）</source>
        <translation>Lengths are note values n (1/n of a whole note; join them with &amp;)</translation>
    </message>
    <message>
        <source>総音長</source>
        <translation>Total length</translation>
    </message>
    <message>
        <source>テンポ</source>
        <translation>Tempo</translation>
    </message>
    <message>
        <source>最小音長</source>
        <translation>Shortest note</translation>
    </message>
    <message>
        <source>省略音長</source>
        <translation>Default length</translation>
    </message>
    <message>
        <source>先頭音長</source>
        <translation>First note</translation>
    </message>
    <message>
        <source>総音長計算</source>
        <translation>Lengths</translation>
    </message>
    <message>
        <source>そのまま</source>
        <translation>As typed</translation>
    </message>
    <message>
        <source>テンポから計算</source>
        <translation>From the tempo</translation>
    </message>
    <message>
        <source>先頭音長から計算</source>
        <translation>From the first note</translation>
    </message>
    <message>
        <source>全て最小音長として計算</source>
        <translation>All at the shortest length</translation>
    </message>
    <message>
        <source>MML形式</source>
        <translation>Dialect</translation>
    </message>
    <message>
        <source>独自形式</source>
        <translation>Tonvik</translation>
    </message>
    <message>
        <source>サクラ形式</source>
        <translation>Sakura</translation>
    </message>
    <message>
        <source>mml2mid形式</source>
        <translation>mml2mid</translation>
    </message>
    <message>
        <source>FMP形式</source>
        <translation>FMP</translation>
    </message>
    <message>
        <source>PMD形式</source>
        <translation>PMD</translation>
    </message>
    <message>
        <source>はてな形式</source>
        <translation>Hatena</translation>
    </message>
    <message>
        <source>マビノギ形式</source>
        <translation>Mabinogi</translation>
    </message>
    <message>
        <source>ここでMMLを編集</source>
        <translation>Edit the MML here</translation>
    </message>
    <message>
        <source>閉じる(&amp;X)</source>
        <translation>Cl&amp;ose</translation>
    </message>
    <message>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>音声ファイルを作成中...</source>
        <translation>Writing the audio file...</translation>
    </message>
    <message>
        <source>中止</source>
        <translation>Cancel</translation>
    </message>
</context>
</TS>
