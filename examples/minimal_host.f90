! The smallest useful Fortran host of DynamicLib-Qav: runs the model through
! the by-reference entry with the interfaces of module qav (interface/qav.f90)
! and prints the toe conditions. Stops with code 1 when the run failed.
program minimal_host
    use, intrinsic :: iso_c_binding, only: c_int, c_int64_t, c_double, c_char
    use qav
    implicit none

    ! Foreshore from 8 m below datum to the toe at 2 m below datum (m).
    real(c_double) :: x(3) = [0.0d0, 200.0d0, 400.0d0], z(3) = [-8.0d0, -5.0d0, -2.0d0]
    ! Two time steps: Hm0 (m), Tp (s), water level (m), wave direction (deg).
    real(c_double) :: hm0(2) = [2.0d0, 3.0d0], tp(2) = [7.0d0, 9.0d0]
    real(c_double) :: wlev(2) = [1.0d0, 2.5d0], angle(2) = [260.0d0, 250.0d0]
    ! Ag, Rho, Alpha, Fc, RatioDepth, InvalidValue, MinStepSize: the defaults of qav.
    real(c_double) :: parameters(QAV_MODEL_PARAMETER_COUNT) = &
        [9.81d0, 1025.0d0, 1.0d0, 0.01d0, 0.5d0, -999.0d0, 1.0d0]
    real(c_double) :: dike_normal = 270.0d0, dam_height = 0.0d0
    integer(c_int) :: dam_type = 0, steps = 2, points = 3, logging = 0, code, i
    real(c_double) :: hm0_toe(2), tp_toe(2), angle_toe(2)
    character(kind=c_char, len=1) :: log_file = ' '
    character(kind=c_char, len=QAV_MESSAGE_LENGTH) :: message

    code = FORTRANENTRY_ROLLERMODEL5(dam_type, dam_height, parameters, steps, hm0, tp, wlev, angle, &
                                     dike_normal, points, x, z, logging, log_file, hm0_toe, tp_toe, &
                                     angle_toe, message, len(log_file, c_int64_t), &
                                     len(message, c_int64_t))
    do i = 1, steps
        print '(a, i0, a, f0.3, a, f0.1, a, f0.1, a)', 'step ', i, ': Hm0 ', hm0_toe(i), ' m, Tp ', &
            tp_toe(i), ' s, direction ', angle_toe(i), ' deg at the toe'
    end do
    ! The message comes back blank padded to 1000 characters.
    print '(a, i0, a, a, a)', 'return code ', code, ', message "', trim(message), '"'
    if (code /= 0) stop 1
end program minimal_host
