{ A host in Free Pascal (Delphi mode; the declarations are Delphi's too): log in (FunctionID 0),
  fetch the user information (8), then one business call (11, personal information), keeping to
  the buffer rule of qx_interface.h.

  Linux:  fpc -Mdelphi -Fl<folder of libqx_interface.so> host.pas
  Run it in the folder that holds qx_interface.ini: the library reads it from the current
  directory at the moment it is loaded. Texts crossing the interface are GBK bytes; they are
  kept here as RawByteString, never converted. }
program host;

{$mode delphi}{$H+}

uses
  SysUtils;

const
{$IFDEF WINDOWS}
  QxLibrary = 'QX_Interface_center.dll';
{$ELSE}
  QxLibrary = 'qx_interface'; { libqx_interface.so }
{$ENDIF}

{$IFDEF WINDOWS}
{ 32-bit Windows: exported undecorated with __stdcall. }
function init_handle(message: PAnsiChar): LongInt; stdcall; external QxLibrary;
function config_handle(server, port, servlet, com: PAnsiChar): LongInt; stdcall;
  external QxLibrary;
function business_handle(request: PAnsiChar; reply: PAnsiChar): LongInt; stdcall;
  external QxLibrary;
function result_handle(buffer: PAnsiChar): LongInt; stdcall; external QxLibrary;
{$ELSE}
{ Linux: the C convention. }
function init_handle(message: PAnsiChar): LongInt; cdecl; external QxLibrary;
function config_handle(server, port, servlet, com: PAnsiChar): LongInt; cdecl;
  external QxLibrary;
function business_handle(request: PAnsiChar; reply: PAnsiChar): LongInt; cdecl;
  external QxLibrary;
function result_handle(buffer: PAnsiChar): LongInt; cdecl; external QxLibrary;
{$ENDIF}

const
  StaffNameGbk = #$CD#$F5#$D0#$E3#$C0#$BC; { staff_name of the simulated center, GBK }
  PersonNameGbk = #$D5#$C5#$CE#$B0;        { name in its personal information, GBK }

var
  Failures: Integer = 0;

{ A buffer of Capacity spaces and a terminating zero. }
function Spaces(Capacity: Integer): RawByteString;
begin
  SetLength(Result, Capacity + 1);
  FillChar(Result[1], Capacity, Ord(' '));
  Result[Capacity + 1] := #0;
end;

{ One business call. A buffer still full of spaces means the reply was longer than it:
  ask result_handle(nil) for the length, then fetch the text. }
function Call(const Request: RawByteString; Capacity: Integer; out Status: LongInt;
  out Fetched: Boolean): RawByteString;
var
  Buffer: RawByteString;
  Length_: LongInt;
begin
  Buffer := Spaces(Capacity);
  Status := business_handle(PAnsiChar(Request), PAnsiChar(Buffer));
  Fetched := StrLen(PAnsiChar(Buffer)) = Cardinal(Capacity);
  if Fetched then
    Fetched := Copy(Buffer, 1, Capacity) = StringOfChar(' ', Capacity);
  if Fetched then
  begin
    Length_ := result_handle(nil);
    SetLength(Buffer, Length_ + 1);
    result_handle(PAnsiChar(Buffer));
  end;
  Result := Copy(Buffer, 1, StrLen(PAnsiChar(Buffer)));
end;

{ The text between <Name> and </Name>. }
function Item(const Xml, Name: RawByteString): RawByteString;
var
  Start, Stop: Integer;
begin
  Result := '';
  Start := Pos('<' + Name + '>', Xml);
  if Start = 0 then
    Exit;
  Start := Start + Length(Name) + 2;
  Stop := Pos('</' + Name + '>', Copy(Xml, Start, MaxInt));
  if Stop > 0 then
    Result := Copy(Xml, Start, Stop - 1);
end;

procedure Expect(Ok: Boolean; const What: string);
begin
  if not Ok then
  begin
    WriteLn(StdErr, 'pascal host: ', What);
    Inc(Failures);
  end;
end;

var
  Message, Reply: RawByteString;
  Status: LongInt;
  Fetched: Boolean;
  Rc: LongInt;
begin
  Message := Spaces(255);
  Rc := init_handle(PAnsiChar(Message));
  WriteLn('init_handle -> ', Rc);
  if Rc <> 1 then
  begin
    WriteLn(StdErr, 'pascal host: init_handle failed');
    Halt(1);
  end;

  Reply := Call('<Program><FunctionID>0</FunctionID><parameters><user>admin</user>' +
    '<password>123456</password></parameters></Program>', 4096, Status, Fetched);
  WriteLn('login -> ', Status, ', ErrorNo ', Item(Reply, 'ErrorNo'));
  Expect((Status >= 0) and (Item(Reply, 'ErrorNo') = '1'), 'login failed');

  Reply := Call('<Program><FunctionID>8</FunctionID></Program>', 4096, Status, Fetched);
  Expect((Status >= 0) and (Item(Reply, 'staff_name') = StaffNameGbk), 'user information');
  if Item(Reply, 'staff_name') = StaffNameGbk then
    WriteLn('user information -> ', Status, ', staff_name as expected')
  else
    WriteLn('user information -> ', Status, ', staff_name WRONG');

  { 128 bytes on purpose: this reply is longer, so it comes through result_handle. }
  Reply := Call('<Program><FunctionID>11</FunctionID></Program>', 128, Status, Fetched);
  Write('personal information -> ', Status, ', ', Length(Reply), ' bytes');
  if Fetched then
    Write(' (fetched with result_handle)');
  if Item(Reply, 'name') = PersonNameGbk then
    WriteLn(', name as expected')
  else
    WriteLn(', name WRONG');
  Expect((Status >= 0) and (Item(Reply, 'name') = PersonNameGbk), 'personal information');
  Expect(Fetched, 'a reply longer than 128 bytes should have needed result_handle');

  if Failures = 0 then
    WriteLn('ok')
  else
    WriteLn('FAILED');
  if Failures <> 0 then
    Halt(1);
end.
