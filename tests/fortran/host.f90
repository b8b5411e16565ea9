! A Fortran host of DynamicLib-Qav: every export through the interfaces of
! module qav, and the by-reference entry once more in the way of a compiler
! that appends hidden text lengths (no bind(C) interface, character(len=*)
! arguments). The log goes to a file of the working folder, named with the
! platform's own separator (C:\...\name.log on Windows).
!
! usage: fortran_host EXPECTED_VERSION
! Stops with a non-zero code and a line on standard error at the first fault.
program fortran_host
    use, intrinsic :: iso_c_binding
    use, intrinsic :: iso_fortran_env, only: error_unit
    use qav
    implicit none

    abstract interface
        ! FORTRANENTRY_ROLLERMODEL5 as a compiler calls it without bind(C):
        ! everything by reference, the lengths of LogFileName and ErrorMessage
        ! hidden at the end of the list.
        function hidden_length_entry(DamType, DamHeight, ModelParameters, NumberOfTimeSteps, Hm0, Tp, &
                                     Wlev, IncomingWaveAngle, DikeNormal, NumberOfProfilePoints, &
                                     ProfileX, ProfileBottomLevel, Logging, LogFileName, Hm0Toe, &
                                     TpToe, WaveAngleToe, ErrorMessage) result(code)
            import :: c_int, c_double
            integer(c_int) :: DamType, NumberOfTimeSteps, NumberOfProfilePoints, Logging
            real(c_double) :: DamHeight, ModelParameters(7), DikeNormal
            real(c_double) :: Hm0(*), Tp(*), Wlev(*), IncomingWaveAngle(*)
            real(c_double) :: ProfileX(*), ProfileBottomLevel(*)
            character(len=*) :: LogFileName, ErrorMessage
            real(c_double) :: Hm0Toe(*), TpToe(*), WaveAngleToe(*)
            integer(c_int) :: code
        end function hidden_length_entry
    end interface

    integer(c_int), parameter :: n = 3, m = 3, damType = 3, logOn = 1, logOff = 0
    real(c_double), parameter :: damHeight = -1.0d0, dikeNormal = 270.0d0
    real(c_double), parameter :: parameters(7) = [9.81d0, 1025.0d0, 1.0d0, 0.01d0, 0.5d0, -999.0d0, 1.0d0]
    real(c_double), parameter :: hm0(n) = [1.2d0, 0.0d0, 2.5d0], tp(n) = [6.0d0, 5.0d0, 8.0d0]
    real(c_double), parameter :: wlev(n) = [0.5d0, 0.5d0, 1.5d0], angle(n) = [265.0d0, 270.0d0, 250.0d0]
    real(c_double), parameter :: x(m) = [0.0d0, 300.0d0, 600.0d0], z(m) = [-8.0d0, -3.0d0, -1.0d0]

    procedure(hidden_length_entry), pointer :: hiddenLengthEntry
    character(len=QAV_MESSAGE_LENGTH) :: version, message, hiddenMessage, cMessage
    character(len=64) :: expected
    character(len=512) :: folder, logName
    character(len=40) :: shortName
    character(len=200) :: line
    character(len=1) :: separator
    real(c_double), dimension(n) :: hm0Toe, tpToe, angleToe, hm0Hidden, tpHidden, angleHidden
    real(c_double), dimension(n) :: hm0C, tpC, angleC
    real(c_double) :: badX(m)
    integer :: status, unit, code, nul

    call get_command_argument(1, expected)
    call GetVersionInfo(version)
    call check(version == expected, "GetVersionInfo gives '"//trim(version)//"', expected '"//trim(expected)//"'")

    call getcwd(folder, status)
    call check(status == 0, "no working folder")
    separator = '/'
    if (index(folder, '\') > 0) separator = '\'
    logName = trim(folder)//separator//'fortran host.log'
    call remove_file(logName)

    ! Through the module: the text lengths given explicitly, the log name with
    ! its trailing blanks.
    code = FORTRANENTRY_ROLLERMODEL5(damType, damHeight, parameters, n, hm0, tp, wlev, angle, dikeNormal, &
                                     m, x, z, logOn, logName, hm0Toe, tpToe, angleToe, message, &
                                     len(logName, c_int64_t), len(message, c_int64_t))
    call check(code == 0, "FORTRANENTRY_ROLLERMODEL5 failed: "//trim(message))
    call check(hm0Toe(1) > 0.1d0 .and. hm0Toe(1) < hm0(1) .and. tpToe(1) == tp(1), "implausible toe of step 1")
    call check(hm0Toe(2) == 0.0d0 .and. tpToe(2) == tp(2), "calm step 2 not calm")
    call check(message == "Hm0 is (almost) zero", "message '"//trim(message)//"'")

    open(newunit=unit, file=logName, status='old', action='read', iostat=status)
    call check(status == 0, "no log at "//trim(logName))
    read(unit, '(a)') line
    call check(line(1:24) == "Start Interface Logging:", "log line 1: "//trim(line))
    read(unit, '(a)') line
    call check(line == "DynamicLib-Qav.dll: VERSION "//trim(expected), "log line 2: "//trim(line))
    close(unit, status='delete')

    ! The same run with the lengths hidden, as a compiler passes them.
    call c_f_procpointer(c_funloc(FORTRANENTRY_ROLLERMODEL5), hiddenLengthEntry)
    shortName = 'hidden lengths.log'
    call remove_file(shortName)
    code = hiddenLengthEntry(damType, damHeight, parameters, n, hm0, tp, wlev, angle, dikeNormal, m, x, z, &
                             logOn, shortName, hm0Hidden, tpHidden, angleHidden, hiddenMessage)
    call check(code == 0, "hidden-length call failed: "//trim(hiddenMessage))
    call check(all(hm0Hidden == hm0Toe) .and. all(tpHidden == tpToe) .and. all(angleHidden == angleToe), &
               "hidden-length call gives other results")
    call check(hiddenMessage == message, "hidden-length call gives another message")
    open(newunit=unit, file=shortName, status='old', action='read', iostat=status)
    call check(status == 0, "the log name of the hidden-length call was not used: no '"//trim(shortName)//"'")
    close(unit, status='delete')

    ! The C entry: parameters one by one, the message NUL-terminated.
    code = C_FORTRANENTRY_RollerModel5(damType, damHeight, parameters(3), parameters(4), parameters(6), n, &
                                       hm0, tp, wlev, angle, dikeNormal, m, x, parameters(7), z, &
                                       parameters(5), logOff, " ", 1_c_int64_t, parameters(1), &
                                       parameters(2), hm0C, tpC, angleC, cMessage)
    call check(code == 0, "C_FORTRANENTRY_RollerModel5 failed")
    call check(all(hm0C == hm0Toe) .and. all(tpC == tpToe) .and. all(angleC == angleToe), &
               "the C entry gives other results")
    nul = index(cMessage, c_null_char)
    call check(nul > 0, "no NUL in the message of the C entry")
    call check(cMessage(:nul - 1) == trim(message), "C entry message '"//cMessage(:max(nul - 1, 0))//"'")

    ! The checks: a profile going back on itself is refused, a calm series is calm.
    badX = [0.0d0, 300.0d0, 200.0d0]
    message = ' '
    code = VALIDATEPROFILE(m, badX, z, c_null_ptr, c_null_ptr, message, len(message, c_int64_t))
    call check(code == -1 .and. message /= ' ', "VALIDATEPROFILE accepted a profile going back")
    message = ' '
    code = VALIDATEPROFILE(m, x, z, c_null_ptr, c_null_ptr, message, len(message, c_int64_t))
    call check(code == 0 .and. message == ' ', "VALIDATEPROFILE refused a good profile: "//trim(message))
    code = VALIDATEHYDRAULICDATA(n, hm0, tp, wlev, angle, parameters(6), message, len(message, c_int64_t))
    call check(code == 1 .and. message == "Hm0 is (almost) zero", "VALIDATEHYDRAULICDATA: "//trim(message))

    print '(a)', "Fortran host: all five exports answered, version "//trim(version)

contains

    subroutine check(condition, what)
        logical, intent(in) :: condition
        character(len=*), intent(in) :: what
        if (.not. condition) then
            write(error_unit, '(a)') "fortran_host: "//what
            error stop 1
        end if
    end subroutine check

    subroutine remove_file(name)
        character(len=*), intent(in) :: name
        integer :: u, s
        open(newunit=u, file=name, status='old', iostat=s)
        if (s == 0) close(u, status='delete')
    end subroutine remove_file

end program fortran_host
